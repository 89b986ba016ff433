#pragma once
// Checks and reads the file a published path names. The path comes from a block any local program
// can write, so only plain local paths to .jpg/.jpeg files are opened, and only bytes that begin
// as a JPEG are kept.

#include <cstdint>
#include <optional>
#include <string>

namespace lumetra::web {

class CameraFolders;

// Why a path is not even opened, as the end of a sentence ("... is not served: <reason>"); nullopt
// when it may be opened.
std::optional<std::string> RefusalOf(const std::wstring& path);

// Size and last write time, to notice a file rewritten under the same name.
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0; // FILETIME
    bool operator==(const FileStamp&) const = default;
};

enum class FileCheck {
    Jpeg,       // begins as a JPEG and ends with its end marker
    Unfinished, // begins as a JPEG (or is too short to tell) but has no end marker yet
    Missing,
    Folder,
    NotRegular, // a device, pipe or the like
    NotJpeg,
    TooLarge,
    Refused,    // not a camera's image, judged on the opened file: `refusal` tells why
    Unreadable, // cannot be opened or read: `systemError` tells why
};

struct FileRead {
    FileCheck check = FileCheck::Missing;
    FileStamp stamp;
    std::string bytes; // the file when Jpeg or Unfinished
    unsigned long systemError = 0;
    std::string refusal; // as for RefusalOf
};

inline constexpr std::uint64_t kLargestServedFile = 64ull * 1024 * 1024;

// The stamp of the file, or its check (Missing, Folder, Unreadable) when it has none.
FileRead StampOf(const std::wstring& path);
// Opens the file and judges where it really is before reading it: a link, a file with other names,
// one outside the cameras' folders or whose real name is no .jpg/.jpeg is Refused.
FileRead ReadPublishedFile(const std::wstring& path, CameraFolders& folders);

// The system's sentence for an error code, UTF-8, without the trailing full stop and line break.
std::string SystemMessage(unsigned long error);
std::string Utf8(const std::wstring& text);
// "2026-01-31T12:00:00Z" and "Sat, 31 Jan 2026 12:00:00 GMT" for a FILETIME.
std::string IsoTime(std::uint64_t fileTime);
std::string HttpDate(std::uint64_t fileTime);
// The FILETIME of an HTTP date (IMF-fixdate); nullopt when it is not one.
std::optional<std::uint64_t> ParseHttpDate(const std::string& text);

} // namespace lumetra::web
