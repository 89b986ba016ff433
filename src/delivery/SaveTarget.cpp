#include "delivery/SaveTarget.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace lumetra {

namespace {
bool IsDeviceName(std::string stem) {
    // "con.jpg" is the device too: only the part before the first dot counts, trailing blanks aside.
    stem = stem.substr(0, stem.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul")
        return true;
    return stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

} // namespace

std::string FileErrorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "the folder does not exist";
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_DEV_TYPE: // Wine's answer for a share it cannot reach
    case ERROR_NETNAME_DELETED:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_UNEXP_NET_ERR:
        return "the network folder cannot be reached";
    case ERROR_ACCESS_DENIED:
        return "access is denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "the file is in use";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "the disk is full";
    case ERROR_WRITE_PROTECT:
        return "the disk is write-protected";
    case ERROR_NOT_READY:
        return "the drive is not ready";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return "the folder name is not valid";
    default:
        break;
    }
    char text[300] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                     sizeof text, nullptr);
    std::string words(text);
    while (!words.empty() &&
           (words.back() == '\r' || words.back() == '\n' || words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words.empty() ? "system error " + std::to_string(error) : words;
}

std::wstring FullPathOf(const std::wstring& path) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    return full;
}

std::wstring FolderKey(const std::wstring& folder) {
    if (folder.empty())
        return {};
    std::wstring full = FullPathOf(folder);
    if (full.empty())
        full = folder;
    // Windows drops spaces and dots at the end of a name: "C:\cams \" is "C:\cams". A network
    // path keeps its leading pair of backslashes.
    const bool network = full.rfind(L"\\\\", 0) == 0;
    std::wstring trimmed = network ? L"\\\\" : L"";
    size_t start = network ? 2 : 0;
    for (;;) {
        const size_t end = std::min(full.find(L'\\', start), full.size());
        std::wstring part = full.substr(start, end - start);
        if (start > (network ? 2u : 0u)) // the drive or the server keeps its form
            while (!part.empty() && (part.back() == L' ' || part.back() == L'.'))
                part.pop_back();
        if (!part.empty() || start == 0)
            trimmed += (start == 0 || (network && start == 2) ? L"" : L"\\") + part;
        if (end == full.size())
            break;
        start = end + 1;
    }
    if (trimmed.size() == 2 && trimmed[1] == L':')
        trimmed += L'\\';
    // Short names ("PROGRA~1") as the long ones, for the part of the path that exists.
    std::wstring existing = trimmed, missing;
    while (!existing.empty()) {
        std::wstring longPath(MAX_PATH, L'\0');
        const DWORD longLength =
            ::GetLongPathNameW(existing.c_str(), longPath.data(), static_cast<DWORD>(longPath.size()));
        if (longLength > 0 && longLength < longPath.size()) {
            longPath.resize(longLength);
            trimmed = longPath + missing;
            break;
        }
        const size_t slash = existing.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash + 1 >= existing.size())
            break;
        missing = existing.substr(slash) + missing;
        existing.resize(slash);
        if (existing.size() == 2 && existing[1] == L':')
            existing += L'\\';
    }
    while (trimmed.size() > 3 && trimmed.back() == L'\\')
        trimmed.pop_back();
    ::CharUpperBuffW(trimmed.data(), static_cast<DWORD>(trimmed.size()));
    return trimmed;
}

std::wstring SavePlaceKey(const std::string& directory, const std::string& fileName) {
    if (directory.empty())
        return {};
    std::wstring name = AnsiToWide(fileName.empty() ? std::string("image") : fileName);
    ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return FolderKey(AnsiToWide(directory)) + L'|' + name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty())
        return true;
    if (name.find("..") != std::string::npos || name.back() == '.' || name.back() == ' ')
        return false;
    for (unsigned char c : name)
        if (c < 32 || std::string("\\/:<>\"|?*").find(static_cast<char>(c)) != std::string::npos)
            return false;
    return !IsDeviceName(name);
}

std::string FolderProblem(const std::string& directory) {
    const DWORD attributes = ::GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FileErrorText(::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return "it is not a folder";
    return {};
}

std::string WriteProblem(const std::string& path) {
    const std::string folder = FolderOf(path);
    std::string problem = FolderProblem(folder);
    if (!problem.empty())
        return problem;
    // An existing file is opened as it stands; a missing one is made and removed again at once.
    UniqueFile file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        file = UniqueFile(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
    }
    if (error != ERROR_SUCCESS)
        return FileErrorText(error);
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr) && available.QuadPart == 0)
        return FileErrorText(ERROR_DISK_FULL);
    return {};
}

} // namespace lumetra
