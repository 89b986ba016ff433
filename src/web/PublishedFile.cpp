#include "web/PublishedFile.h"

#include "web/CameraFolders.h"

#include "framework/Handles.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace lumetra::web {
namespace {

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
    const std::size_t length = std::wcslen(suffix);
    if (text.size() < length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::towlower(text[text.size() - length + i]) != suffix[i])
            return false;
    return true;
}

bool HasJpegName(const std::wstring& path) {
    return EndsWithNoCase(path, L".jpg") || EndsWithNoCase(path, L".jpeg");
}

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

SYSTEMTIME ToSystemTime(std::uint64_t fileTime) {
    FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME utc{};
    ::FileTimeToSystemTime(&time, &utc);
    return utc;
}

} // namespace

std::optional<std::string> RefusalOf(const std::wstring& path) {
    // Only "X:\..." : no relative path, no UNC or device path (which could reach other machines).
    if (path.size() < 4 || !std::iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\')
        return "it is not a full local path such as C:\\cams\\door.jpg";
    for (std::size_t i = 2; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c < 32 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|')
            return "it holds characters a file path cannot hold";
    }
    for (std::size_t start = 3; start <= path.size();) {
        std::size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring part = path.substr(start, end - start);
        if (part == L"..")
            return "it contains \"..\"";
        start = end + 1;
    }
    if (!HasJpegName(path))
        return "only files whose names end in .jpg or .jpeg are served";
    return std::nullopt;
}

FileRead StampOf(const std::wstring& path) {
    FileRead result;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        result.systemError = ::GetLastError();
        result.check =
            result.systemError == ERROR_FILE_NOT_FOUND || result.systemError == ERROR_PATH_NOT_FOUND
                ? FileCheck::Missing
                : FileCheck::Unreadable;
        return result;
    }
    result.check =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileCheck::Folder : FileCheck::Unfinished;
    result.stamp.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    result.stamp.lastWrite = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return result;
}

namespace {

// Why the opened file is not served; nullopt for a camera's image.
std::optional<std::string> RefusalOfOpened(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info,
                                           const std::wstring& path, CameraFolders& folders) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const std::wstring finalPath = FinalPathOf(file);
    if (finalPath.empty() || !::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
        return "where it really is cannot be told";
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "it is a link or another reparse point";
    // Lumetra writes each image afresh: a second name may be the way in from elsewhere.
    if (info.nNumberOfLinks > 1)
        return "the file has other names (hard links) as well";
    if (auto refusal = folders.RefusalOf(finalPath, path))
        return refusal;
    // An 8.3 alias such as SECR~1.JPG may stand for a file of any type: the real name counts.
    if (!HasJpegName(finalPath))
        return "its real name is " + Utf8(finalPath.substr(finalPath.find_last_of(L'\\') + 1)) +
               ", and only files whose names end in .jpg or .jpeg are served";
    return std::nullopt;
}

} // namespace

FileRead ReadPublishedFile(const std::wstring& path, CameraFolders& folders) {
    FileRead result = StampOf(path);
    if (result.check != FileCheck::Unfinished)
        return result;
    // Lumetra may be writing the file: share everything, so neither side is refused. A link is
    // opened itself, not followed.
    UniqueFile file(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        result.systemError = ::GetLastError();
        result.check =
            result.systemError == ERROR_FILE_NOT_FOUND ? FileCheck::Missing : FileCheck::Unreadable;
        return result;
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        result.check = FileCheck::NotRegular;
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) {
        result.systemError = ::GetLastError();
        result.check = FileCheck::Unreadable;
        return result;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        result.check = FileCheck::Folder;
        return result;
    }
    result.stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    result.stamp.lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    if (auto refusal = RefusalOfOpened(file.get(), info, path, folders)) {
        result.check = FileCheck::Refused;
        result.refusal = std::move(*refusal);
        return result;
    }
    if (result.stamp.size > kLargestServedFile) {
        result.check = FileCheck::TooLarge;
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(result.stamp.size));
    std::size_t done = 0;
    while (done < result.bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), result.bytes.data() + done,
                        static_cast<DWORD>(result.bytes.size() - done), &got, nullptr)) {
            result.systemError = ::GetLastError();
            result.check = FileCheck::Unreadable;
            result.bytes.clear();
            return result;
        }
        if (got == 0)
            break; // shorter than it was a moment ago: being rewritten
        done += got;
    }
    result.bytes.resize(done);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(result.bytes[i]); };
    const std::size_t size = result.bytes.size();
    if (size >= 3 && !(byte(0) == 0xFF && byte(1) == 0xD8 && byte(2) == 0xFF)) {
        result.check = FileCheck::NotJpeg;
        result.bytes.clear();
    } else if (size >= 5 && byte(size - 2) == 0xFF && byte(size - 1) == 0xD9) {
        result.check = FileCheck::Jpeg;
    }
    return result;
}

std::string SystemMessage(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    return Utf8(message);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                          nullptr, nullptr);
    return result;
}

std::string IsoTime(std::uint64_t fileTime) {
    const SYSTEMTIME t = ToSystemTime(fileTime);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return text;
}

std::string HttpDate(std::uint64_t fileTime) {
    const SYSTEMTIME t = ToSystemTime(fileTime);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[t.wDayOfWeek % 7], t.wDay,
                  kMonths[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::optional<std::uint64_t> ParseHttpDate(const std::string& text) {
    char day[4] = {}, month[4] = {}, zone[4] = {};
    unsigned dayOfMonth = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%3s, %2u %3s %4u %2u:%2u:%2u %3s", day, &dayOfMonth, month, &year, &hour,
                    &minute, &second, zone) != 8 ||
        std::string(zone) != "GMT")
        return std::nullopt;
    SYSTEMTIME t{};
    for (int i = 0; i < 12; ++i)
        if (std::string(month) == kMonths[i])
            t.wMonth = static_cast<WORD>(i + 1);
    t.wYear = static_cast<WORD>(year);
    t.wDay = static_cast<WORD>(dayOfMonth);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    FILETIME result{};
    if (t.wMonth == 0 || !::SystemTimeToFileTime(&t, &result))
        return std::nullopt;
    return Join(result.dwHighDateTime, result.dwLowDateTime);
}

} // namespace lumetra::web
