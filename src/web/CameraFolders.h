#pragma once
// The folders the cameras save into, from their stored settings: the value "FIL" of each key under
// HKEY_CURRENT_USER\Software\_ORVANE\Lumetra (a camera name with a \ is a key below another). Only
// files that really lie in one of them are served, so a path written into the shared block by
// anyone else cannot reach the rest of the disk.

#include "framework/Handles.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumetra::web {

// A path as GetFinalPathNameByHandle gives it, without its "\\?\"; empty when it has none.
std::wstring FinalPathOf(HANDLE handle);

class CameraFolders {
  public:
    // Reads the settings again when they changed since the last call (or, while the key is missing,
    // once a second); true when they were read. Call it from one long-lived thread: the registry ends
    // a change notification when the thread that asked for it ends.
    bool Refresh();

    // Why a file is not served, judged on where it really is: `finalPath` from its open handle,
    // `namedPath` the path it was opened by. nullopt when it lies directly in a camera's folder and
    // was reached by its own name (or through the camera's folder itself being a link).
    std::optional<std::string> RefusalOf(const std::wstring& finalPath, const std::wstring& namedPath);

  private:
    struct Folder {
        std::wstring stored;    // as the camera stores it, in its long form, without a trailing \ .
        std::wstring finalPath; // where it really is; empty while it cannot be opened
    };

    void Read();
    void ReadKey(HKEY key, int depth);
    void Resolve();
    std::optional<std::string> Judge(const std::wstring& finalPath, const std::wstring& namedPath) const;

    UniqueRegKey key_;
    UniqueHandle changed_; // signalled by the registry when anything under key_ changes
    std::chrono::steady_clock::time_point nextOpen_{};
    std::vector<Folder> folders_;
};

} // namespace lumetra::web
