#pragma once
// The record of the images a camera saved with the time in their names: which file, how large, last
// written when. Retention deletes only files this record holds and that are still as recorded, so a
// file the camera did not write (another camera's, the user's own) is never taken for one of its own.
//
// One text file per camera name, %LOCALAPPDATA%\Lumetra\records\<hex of the name>.txt, UTF-8:
//     lumetra image record 1
//     F<tab><folder>                   the folder of the lines that follow
//     <name><tab><bytes><tab><time>    one image (time: last write, FILETIME)
// Lines are only appended while the camera saves; a retention run rewrites the file without the
// images it deleted or found gone. A half-written last line (the power went) is ignored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

struct RecordedImage {
    std::wstring name;
    std::uint64_t bytes = 0;
    std::uint64_t writeTime = 0; // FILETIME of the last write, as the file system tells it
    bool operator==(const RecordedImage&) const = default;
};

struct RecordedFolder {
    std::wstring folder; // as the images were saved into it
    std::vector<RecordedImage> images;
};

struct RecordContents {
    std::vector<RecordedFolder> folders; // in the order first seen
    // The folder and name of the image recorded last: where the camera saves now.
    std::wstring lastFolder;
    std::wstring lastName;
    std::uint64_t endOffset = 0; // how much of the file this covers
    std::uint64_t digest = 0;    // of those bytes, to tell the same record from another
    std::wstring folderAtEnd;    // the folder of lines added after them
};

// The name ends in ten digits and ".jpg" (letter case ignored): only such images are recorded.
constexpr std::size_t TimeStampDigits = 10;
constexpr std::size_t TimeStampSuffixLength = TimeStampDigits + 4; // the digits and ".jpg"
bool IsTimeStampedName(const std::wstring& name);

// The file at `path` as the record keeps it (name, size, last write); none when it cannot be read.
std::optional<RecordedImage> RecordedImageOf(const std::wstring& path);

class ImageRecord {
  public:
    // The record of a camera, by its name as stored (letter case ignored, as for its settings).
    explicit ImageRecord(const std::string& cameraName);
    // A record at a path of the caller's (tests, the benchmark).
    static ImageRecord AtPath(std::wstring path);

    // Appends images written into `folder`; names that are not time-stamped are left out. Returns
    // whether they were written.
    bool Add(const std::wstring& folder, const std::vector<RecordedImage>& images);
    // Reads the whole record; empty when there is none.
    RecordContents Read() const;
    // Replaces the part of the record that `read` covered with `kept`, keeping what was added since.
    // Nothing is written when the record was moved or rewritten meanwhile.
    bool Rewrite(const RecordContents& read, const std::vector<RecordedFolder>& kept);

    const std::wstring& Path() const { return path_; }

  private:
    struct AtPathTag {};
    ImageRecord(AtPathTag, std::wstring path) : path_(std::move(path)) {}

    std::wstring path_;
};

// Where the records live, and the record file of one camera name.
std::wstring ImageRecordFolder();
std::wstring ImageRecordPath(const std::string& cameraName);

// The camera's settings are now kept under another name: its record goes along (joined to a record
// already there). Returns whether anything was moved.
bool MoveImageRecord(const std::string& fromCamera, const std::string& toCamera);

} // namespace lumetra
