#include "web/CameraFolders.h"

#include <cwctype>

namespace lumetra::web {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kLumetraKey[] = L"Software\\_ORVANE\\Lumetra";
// A camera name may hold \ , which makes keys below keys; no name goes this deep.
constexpr int kDeepestCameraKey = 16;

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Short names ("SECR~1.JPG") as the long ones, doubled and forward slashes as single \ ; the path as
// it is when it cannot be looked up.
std::wstring LongForm(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    const DWORD fullLength =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(fullLength > 0 && fullLength < full.size() ? fullLength : 0);
    if (full.empty())
        full = path;
    std::wstring result(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            ::GetLongPathNameW(full.c_str(), result.data(), static_cast<DWORD>(result.size()));
        if (length == 0)
            return full;
        if (length < result.size()) {
            result.resize(length);
            return result;
        }
        result.resize(length);
    }
    return full;
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring TextValue(HKEY key, const wchar_t* name) {
    DWORD type = REG_NONE, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    text.resize(size / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

} // namespace

std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

bool CameraFolders::Refresh() {
    if (!key_) {
        const auto now = std::chrono::steady_clock::now();
        if (now < nextOpen_)
            return false;
        nextOpen_ = now + 1s;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, kLumetraKey, 0, KEY_READ, key_.put()) != ERROR_SUCCESS) {
            const bool hadFolders = !folders_.empty();
            folders_.clear();
            return hadFolders;
        }
        if (!changed_)
            changed_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    } else if (::WaitForSingleObject(changed_.get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    // Asked for again before the read, so a change made during the read is not missed.
    if (!changed_ ||
        ::RegNotifyChangeKeyValue(key_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                  changed_.get(), TRUE) != ERROR_SUCCESS) {
        key_.reset(); // deleted: opened again once it is back
    }
    Read();
    return true;
}

void CameraFolders::Read() {
    folders_.clear();
    if (key_)
        ReadKey(key_.get(), 0);
    Resolve();
}

void CameraFolders::ReadKey(HKEY key, int depth) {
    const std::wstring folder = TextValue(key, L"FIL");
    // Only local folders: a network path is never served.
    if (folder.size() >= 3 && std::iswalpha(folder[0]) && folder[1] == L':' && folder[2] == L'\\')
        folders_.push_back({WithoutTrailingSlash(LongForm(folder)), {}});
    if (depth >= kDeepestCameraKey)
        return;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        UniqueRegKey camera;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, camera.put()) == ERROR_SUCCESS)
            ReadKey(camera.get(), depth + 1);
    }
}

void CameraFolders::Resolve() {
    for (Folder& folder : folders_) {
        UniqueFile handle(::CreateFileW((folder.stored + L"\\").c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        folder.finalPath = handle ? WithoutTrailingSlash(FinalPathOf(handle.get())) : std::wstring();
    }
}

std::optional<std::string> CameraFolders::RefusalOf(const std::wstring& finalPath,
                                                    const std::wstring& namedPath) {
    if (!Judge(finalPath, namedPath))
        return std::nullopt;
    Resolve(); // a folder made or moved since the settings were read
    return Judge(finalPath, namedPath);
}

std::optional<std::string> CameraFolders::Judge(const std::wstring& finalPath,
                                                const std::wstring& namedPath) const {
    const std::wstring named = LongForm(namedPath);
    const std::wstring folder = ParentOf(finalPath);
    for (const Folder& camera : folders_) {
        if (camera.finalPath.empty() || !SameText(folder, camera.finalPath))
            continue;
        // Reached by its own name, or through the camera's folder when that folder is a link itself.
        if (SameText(finalPath, named) || SameText(named, camera.stored + L"\\" + NameOf(finalPath)))
            return std::nullopt;
    }
    if (!SameText(finalPath, named))
        return "it leads through a link to another file";
    if (folders_.empty())
        return "it is not in a folder a camera saves into (no camera has a folder in its stored settings)";
    return "it is not in a folder a camera saves into";
}

} // namespace lumetra::web
