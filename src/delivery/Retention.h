#pragma once
// Keeping a camera's folder from filling the disk. Only images the camera itself saved with the time
// in their names are ever deleted: those its record holds (delivery/ImageRecord.h) that are still
// as recorded, in the folder it last saved into, named by its file name, ten digits of seconds since
// 1970 and ".jpg". They go oldest first (by the time in the name) once older than an age limit, and
// once they take more room than a size limit, until they are under 90 % of it. Reading the folder
// and deleting run on a thread of their own; the user-interface thread keeps only totals.

#include "delivery/BackgroundJob.h"
#include "delivery/ImagePath.h"
#include "delivery/ImageRecord.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumetra {

// What one camera keeps; both limits 0 keep everything.
struct RetentionRules {
    int days = 0;      // 0: no age limit
    int megabytes = 0; // 0: no size limit (a megabyte is 1,048,576 bytes)

    bool Active() const { return days > 0 || megabytes > 0; }
    bool operator==(const RetentionRules&) const = default;
};

// Where a camera's images are cleaned: the folder it last saved a time-stamped image into, as it
// saved it, and the name before the time.
struct SavePlace {
    std::wstring folder;
    std::wstring stem;
    bool operator==(const SavePlace&) const = default;
};
// The place of a time-stamped image; none for other names.
std::optional<SavePlace> PlaceOfImage(const std::wstring& folder, const std::wstring& name);

// The time in `name` when it is one of the camera's time-stamped images (letter case ignored, as
// Windows ignores it); none otherwise.
std::optional<std::int64_t> RetainedImageStamp(const std::wstring& name, const std::wstring& stem);

// The folder that may be cleaned: its full path, or why it may not be (a path through "..", one
// that leads elsewhere through a link, or one that does not exist).
struct RetentionFolder {
    std::wstring path;
    std::string refusal;
};
RetentionFolder ResolveRetentionFolder(const std::wstring& folder);

struct RetainedImage {
    std::wstring name;
    std::int64_t stamp = 0;
    std::uint64_t bytes = 0;
    std::uint64_t writeTime = 0; // FILETIME of the last write
};

// The files in the folder named as the camera names its images, oldest first; sub-folders and links
// are never among them.
std::vector<RetainedImage> ListRetainedImages(const std::wstring& folder, const std::wstring& stem);

// Which images (oldest first, as listed) go at `now`: those older than the age limit, then, when the
// images and `headroom` bytes more pass the size limit, the oldest until the rest is under 90 % of
// it. Protected names never go (letter case ignored).
std::vector<size_t> ImagesToDelete(const std::vector<RetainedImage>& images, const RetentionRules& rules,
                                   std::int64_t now, const std::set<std::wstring>& protectedNames,
                                   std::uint64_t headroom = 0);

// What one run over the folder found and did.
struct RetentionRun {
    std::optional<SavePlace> place; // where it worked; none when the camera has recorded nothing
    std::string refusal;            // the folder may not be cleaned (nothing was read)
    std::uint64_t deletedFiles = 0;
    std::uint64_t freedBytes = 0;
    std::vector<std::pair<std::wstring, std::string>> notDeleted; // name, why
    // The camera's images that are left.
    std::uint64_t keptFiles = 0;
    std::uint64_t keptBytes = 0;
    std::optional<std::int64_t> oldestKept;
    bool stopped = false; // cancelled before the end
};

// Reads the record and the folder at `place` (none: where the record's last image went) and deletes
// what the rules say among the recorded images, on the calling thread; stops between files once
// `cancel` is set. Images found gone or changed leave the record.
RetentionRun RunRetention(ImageRecord& record, const std::optional<SavePlace>& place,
                          const RetentionRules& rules, std::int64_t now,
                          const std::set<std::wstring>& protectedNames, const std::atomic<bool>& cancel,
                          std::uint64_t headroom = 0);

// One camera's retention, driven by its session on the user-interface thread: a run when the rules
// or the place change, once a minute when something is due (and once an hour in any case, to see
// what others did in the folder), and right after a save that brings the images to the size limit.
// What it deleted goes to the event log at most once an hour, summed.
class ImageRetention {
  public:
    // The paths that must stay whatever the rules say (just written, last sent, shown).
    using ProtectedPaths = std::function<std::vector<std::string>()>;

    ImageRetention(std::string cameraName, std::shared_ptr<ImageRecord> record, ProtectedPaths protectedPaths,
                   SecondsClock clock = SecondsSince1970);
    ~ImageRetention();
    ImageRetention(const ImageRetention&) = delete;
    ImageRetention& operator=(const ImageRetention&) = delete;

    // The rules as they stand, at every tick. Costs no disk access unless a run is due.
    void Tick(const RetentionRules& rules);
    // The once-a-minute look, from the totals alone: starts a run when an image is older than the
    // age limit or the images pass the size limit. Returns whether a run started.
    bool CheckNow();
    // The camera wrote this image (full path as saved): a time-stamped one is recorded, whatever
    // the limits, and its folder becomes the one that is cleaned.
    void ImageWritten(const std::string& path);
    // Where the last run worked (none before one, or when nothing is recorded).
    const std::optional<SavePlace>& Place() const { return place_; }

    bool Running() const { return job_.Running(); }
    // Runs finished since the session began (tests and the benchmark).
    std::uint64_t RunsFinished() const { return runsFinished_; }

  private:
    void StartRun();
    void Finished(const RetentionRun& run, std::uint64_t generation);
    // Starts over from the folder: the rules or the place changed.
    void Restart();
    void LogDeleted(bool evenWithinTheHour);
    void LogNotDeleted(const RetentionRun& run);
    bool Due(std::int64_t now) const;
    std::uint64_t LimitBytes() const;
    std::uint64_t Headroom() const;

    std::string cameraName_;
    std::shared_ptr<ImageRecord> record_;
    ProtectedPaths protectedPaths_;
    SecondsClock clock_;
    RetentionRules rules_;
    std::optional<SavePlace> place_;
    BackgroundJob job_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::uint64_t generation_ = 0; // counts rule changes: a run of older rules changes no totals
    // What the last run left, plus what was written since; unknown until a run finished.
    bool known_ = false;
    std::uint64_t bytes_ = 0;
    std::uint64_t lastImageBytes_ = 0;
    std::optional<std::int64_t> oldest_;
    std::vector<std::pair<std::wstring, std::uint64_t>> writtenDuringRun_;
    bool runAgain_ = false;       // a write brought the images to the limit while a run went on
    bool stuckOverLimit_ = false; // the last run could not get under the limit (protected images)
    ULONGLONG nextCheck_ = 0;
    ULONGLONG nextRead_ = 0;
    // What the event log was told: deletions summed an hour at a time, each file that could not be
    // deleted once while it stays so (the names failing now), each refusal once until the rules change.
    struct LogState {
        std::string refusal;
        std::set<std::wstring> failures;
        // Deleted since the last line, and when that line was written (0: never).
        std::uint64_t unloggedFiles = 0;
        std::uint64_t unloggedBytes = 0;
        std::wstring unloggedFolder;
        ULONGLONG lastLoggedAt = 0;
    } logged_;
    std::uint64_t runsFinished_ = 0;
};

} // namespace lumetra
