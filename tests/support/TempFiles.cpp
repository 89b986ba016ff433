#include "TempFiles.h"

#include "framework/EventLog.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace lumetra::test {

TempFolder::TempFolder(const std::string& name) {
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "lumetra-" + std::to_string(::GetCurrentProcessId()) + "-" + name;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_, ignored);
}

TempFolder::~TempFolder() {
    if (::GetEnvironmentVariableA("LUMETRA_KEEP_TEST_FILES", nullptr, 0) != 0)
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Files() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uintmax_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string EventLogText() {
    FlushEventLog();
    std::ifstream in(std::filesystem::path(EventLogPath()), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace lumetra::test
