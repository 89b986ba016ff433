// The event log as a month of events leaves it: full files move down a row of nine, the oldest goes.
#include "framework/EventLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace lumetra;
namespace fs = std::filesystem;

TEST(EventLog, KeepsNineFullFilesBesideTheCurrentOneNewestFirst) {
    const fs::path folder =
        fs::temp_directory_path() / ("lumetra-log-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path log = folder / "lumetra.log";
    SetEventLogPath(log.wstring());
    // Lines of 300 KB: four fill a file, so 60 of them make fifteen files.
    const std::string filler(300 * 1024, 'x');
    for (int line = 0; line < 60; ++line) {
        LogEvent("", "event " + std::to_string(line) + " " + filler);
        FlushEventLog();
    }
    SetEventLogPath({});
    const auto firstEvent = [&](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const size_t at = text.find("event ");
        return at == std::string::npos ? -1 : std::stoi(text.substr(at + 6));
    };
    EXPECT_EQ(firstEvent(log), 56);
    for (int number = 1; number <= 9; ++number)
        EXPECT_EQ(firstEvent(log.string() + "." + std::to_string(number)), 56 - 4 * number) << number;
    EXPECT_FALSE(fs::exists(log.string() + ".10"));
    fs::remove_all(folder);
}
