// Retention over a real folder: which files an age or a size limit deletes, what is never touched
// (files the camera's record does not hold, or holds as they were before someone wrote over them),
// and folders that may not be cleaned at all.
#include "FtpServer.h"
#include "StartProcess.h"
#include "TempFiles.h"
#include "WindowDriver.h"
#include "delivery/Retention.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace lumetra;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kNow = 1800000000;
constexpr int kImages = 500;
constexpr size_t kImageBytes = 4096;

void WriteFile(const fs::path& path, size_t bytes) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

std::string ImageName(int hoursOld) {
    return "door" + std::to_string(kNow - hoursOld * 3600LL) + ".jpg";
}

// Records the files as the camera's saves would, with their sizes and times as they are now.
void Record(ImageRecord& record, const fs::path& folder, const std::vector<std::string>& names) {
    std::vector<RecordedImage> images;
    for (const std::string& name : names) {
        const std::optional<RecordedImage> image = RecordedImageOf((folder / name).wstring());
        ASSERT_TRUE(image) << name;
        images.push_back(*image);
    }
    ASSERT_TRUE(record.Add(folder.wstring(), images));
}

// 500 of the camera's images, one an hour back from kNow, and 24 files it never wrote: three named
// as its images, one of its images written over by someone else, and 20 of other names.
class RetentionFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("lumetra-retention-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(folder);
        ::DeleteFileW(record.Path().c_str());
        fs::create_directories(folder / "door1700000000.jpg"); // a sub-folder named like an image
        WriteFile(folder / "door1700000000.jpg" / "door1700000001.jpg", 10);
        // Other names, another camera's images ("gate", and "door1" with its ten digits).
        for (const char* name :
             {"door.jpg", "door123.jpg", "door17000000000.jpg", "door1700000000.jpeg",
              "door1700000000.jpg.txt", "door1700000000x.jpg", "doors1700000000.jpg", "xdoor1700000000.jpg",
              "gate1700000000.jpg", "image1700000000.jpg", "door1 700000000.jpg", "notes.txt",
              "door1700000000.jpg~", "DOOR", "door17000000.jpg", "1700000000.jpg", "door-1700000000.jpg",
              "door1700000000.JPG.bak", "door170000000a.jpg"})
            WriteFile(folder / name, 100);
        others = Names();
        ASSERT_EQ(others.size(), 20u);
        std::vector<std::string> images;
        for (int hours = 0; hours < kImages; ++hours) {
            WriteFile(folder / ImageName(hours), kImageBytes);
            images.push_back(ImageName(hours));
        }
        Record(record, folder, images);
        for (int hours : {600, 601, 602}) {
            WriteFile(folder / ImageName(hours), kImageBytes);
            others.push_back(ImageName(hours));
        }
        WriteFile(folder / ImageName(kWrittenOver), kImageBytes + 1);
        others.push_back(ImageName(kWrittenOver));
    }
    void TearDown() override {
        fs::remove_all(folder);
        ::DeleteFileW(record.Path().c_str());
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    RetentionRun Run(int days, int megabytes, std::set<std::wstring> protectedNames = {}) {
        const std::atomic<bool> cancel{false};
        return RunRetention(record, SavePlace{folder.wstring(), L"door"}, {days, megabytes}, kNow,
                            protectedNames, cancel);
    }
    void ExpectOthersUntouched() {
        for (const std::string& name : others)
            EXPECT_TRUE(fs::exists(folder / name)) << name;
        EXPECT_TRUE(fs::exists(folder / "door1700000000.jpg" / "door1700000001.jpg"));
    }

    static constexpr int kWrittenOver = 450;
    fs::path folder;
    ImageRecord record = ImageRecord::AtPath(
        (fs::temp_directory_path() / ("lumetra-record-" + std::to_string(::GetCurrentProcessId()) + ".txt"))
            .wstring());
    std::vector<std::string> others;
};

} // namespace

TEST_F(RetentionFolderTest, LimitsDeleteOnlyTheCamerasOldestImages) {
    RetentionRun run = Run(0, 0);
    EXPECT_EQ(run.deletedFiles, 0u) << "limits at 0 keep everything";
    EXPECT_EQ(Names().size(), kImages + others.size() - 1); // one of the images is written over

    // Ten days: exactly the images older than 240 hours go; one held open by another program is
    // skipped, and goes once it is free.
    HANDLE held = ::CreateFileW((folder / ImageName(400)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run = Run(10, 0);
    ::CloseHandle(held);
    EXPECT_EQ(run.deletedFiles, static_cast<std::uint64_t>(kImages - 241 - 2)); // held, written over
    EXPECT_EQ(run.freedBytes, run.deletedFiles * kImageBytes);
    ASSERT_EQ(run.notDeleted.size(), 1u);
    EXPECT_EQ(run.notDeleted[0].second, "the file is in use");
    EXPECT_EQ(Run(10, 0).deletedFiles, 1u);
    for (int hours = 0; hours < kImages; ++hours)
        EXPECT_EQ(fs::exists(folder / ImageName(hours)), hours <= 240 || hours == kWrittenOver) << hours;
    ExpectOthersUntouched();
    // The record forgot what went and what is no longer as written, and nothing else.
    const RecordContents left = record.Read();
    ASSERT_EQ(left.folders.size(), 1u);
    EXPECT_EQ(left.folders[0].images.size(), 241u);
    EXPECT_EQ(left.lastName, fs::path(ImageName(240)).wstring()) << "in the order they were recorded";

    // 241 images of 4 KB are under 1 MB: none go. With 241 older ones back, the oldest go until the
    // rest is under 90 % of 1 MB (230 images), except a protected one.
    EXPECT_EQ(Run(0, 1).deletedFiles, 0u);
    std::vector<std::string> olderBack;
    for (int hours = 241; hours < 482; ++hours) {
        if (hours == kWrittenOver)
            continue;
        WriteFile(folder / ImageName(hours), kImageBytes);
        olderBack.push_back(ImageName(hours));
    }
    Record(record, folder, olderBack);
    run = Run(0, 1, {fs::path(ImageName(300)).wstring()});
    EXPECT_EQ(run.keptFiles, 230u);
    EXPECT_EQ(run.keptBytes, 230u * kImageBytes);
    for (int hours = 0; hours < 482; ++hours)
        EXPECT_EQ(fs::exists(folder / ImageName(hours)), hours < 229 || hours == 300 || hours == kWrittenOver)
            << hours;
    ExpectOthersUntouched();
}

TEST_F(RetentionFolderTest, FoldersThroughDotDotOrALinkAreRefused) {
    const std::string upAndBack = (folder / ".." / folder.filename()).string();
    const std::atomic<bool> cancel{false};
    RetentionRun run =
        RunRetention(record, SavePlace{fs::path(upAndBack).wstring(), L"door"}, {1, 0}, kNow, {}, cancel);
    EXPECT_EQ(run.refusal, "the folder path goes up through \"..\"");
    EXPECT_EQ(run.deletedFiles, 0u);

    // A link made on the Linux side, where Wine's folders live: Wine shows no link attribute.
    const char* build = std::getenv("LUMETRA_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    const std::string link =
        std::string(build) + "/retention-link-" + std::to_string(::GetCurrentProcessId());
    const std::string target =
        std::string(build) + "/retention-target-" + std::to_string(::GetCurrentProcessId());
    fs::create_directories(test::ToWindowsPath(target));
    WriteFile(test::ToWindowsPath(target) + "\\door1600000000.jpg", 10);
    Record(record, test::ToWindowsPath(target), {"door1600000000.jpg"});
    test::ChildProcess ln;
    ASSERT_TRUE(ln.Start("Z:\\bin\\ln -sfn " + target + " " + link));
    // Wine cannot wait for a Linux process: the link's file is looked for instead.
    for (int tries = 0; tries < 100 && !fs::exists(test::ToWindowsPath(link) + "\\door1600000000.jpg");
         ++tries)
        ::Sleep(100);
    const auto placeAt = [](const std::string& path) { return SavePlace{fs::path(path).wstring(), L"door"}; };
    run = RunRetention(record, placeAt(test::ToWindowsPath(link)), {1, 0}, kNow, {}, cancel);
    EXPECT_EQ(run.refusal, "the folder is reached through a link");
    EXPECT_TRUE(fs::exists(test::ToWindowsPath(target) + "\\door1600000000.jpg"));
    run = RunRetention(record, placeAt(test::ToWindowsPath(target)), {1, 0}, kNow, {}, cancel);
    EXPECT_EQ(run.deletedFiles, 1u) << "the folder itself is cleaned";
    ::DeleteFileA(test::ToWindowsPath(link).c_str());
    fs::remove_all(test::ToWindowsPath(target));
}

// Images that cannot be deleted (held open by another program) are logged once while they stay so,
// and only the first few by name: a share that refuses every delete must not add a line, nor keep a
// name, for every image the camera saves.
TEST_F(RetentionFolderTest, ImagesThatCannotBeDeletedAreLoggedOnceAFewByName) {
    const size_t logStart = test::EventLogText().size();
    std::vector<HANDLE> held;
    for (int hours = 490; hours < 498; ++hours)
        held.push_back(::CreateFileW((folder / ImageName(hours)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ImageRetention retention("Stuck Cam", std::make_shared<ImageRecord>(record), {}, [] { return kNow; });
    retention.ImageWritten((folder / ImageName(0)).string()); // the place to clean
    for (std::uint64_t runs = 1; runs <= 3; ++runs) {
        if (runs == 1)
            retention.Tick({10, 0});
        else
            ASSERT_TRUE(retention.CheckNow()) << "the held images are still older than the limit";
        ASSERT_TRUE(test::PumpUntil([&] { return retention.RunsFinished() == runs; }, 30000));
    }
    for (HANDLE file : held)
        ::CloseHandle(file);
    const std::string log = test::EventLogText().substr(logStart);
    EXPECT_NE(log.find("[Stuck Cam]  retention could not delete " + ImageName(497) + ": the file is in use"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[Stuck Cam]  retention could not delete 3 more images in " + folder.string()),
              std::string::npos)
        << log;
    EXPECT_EQ(test::CountOf(log, "could not delete"), 6u)
        << "five by name, then a count, and nothing again at later runs:\n"
        << log;
}
