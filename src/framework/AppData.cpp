#include "framework/AppData.h"

#include <windows.h>

namespace lumetra {

std::wstring LumetraDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(folder) + L"\\Lumetra";
}

} // namespace lumetra
