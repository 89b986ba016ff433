// Two cameras save every second for two minutes on the real camera timer, each into a folder that
// already holds a day-old backlog. The one with a 1 MB limit keeps its images under 1 MB from the
// first minute on and never loses its newest; the one without limits keeps everything.
#include "SessionHarness.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "delivery/Retention.h"
#include "framework/EventLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;
namespace fs = std::filesystem;

namespace {

const std::string kLimitedCamera = "Retention Limited Cam";
const std::string kUnlimitedCamera = "Retention Unlimited Cam";
constexpr int kBacklog = 45;
constexpr std::uintmax_t kLimitBytes = 1024 * 1024;

struct Images {
    std::uintmax_t bytes = 0;
    size_t count = 0;
    std::string newest; // by the time in its name
};

Images ImagesIn(const TempFolder& folder) {
    Images images;
    std::int64_t newest = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const auto stamp = RetainedImageStamp(entry.path().filename().wstring(), L"yard");
        std::error_code gone; // deleted while this looks
        const std::uintmax_t size = entry.file_size(gone);
        if (!stamp || gone)
            continue;
        ++images.count;
        images.bytes += size;
        if (*stamp >= newest)
            newest = *stamp, images.newest = entry.path().filename().string();
    }
    return images;
}

} // namespace

TEST(Retention, SaveAutoEverySecondForTwoMinutesStaysUnderItsLimitAndKeepsTheNewestImage) {
    StartProgramLibraries();
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    ScopedTestCamera limitedDevice(cameras, kLimitedCamera), unlimitedDevice(cameras, kUnlimitedCamera);
    ASSERT_TRUE(limitedDevice.registered() && unlimitedDevice.registered());
    DeleteCameraKey(kLimitedCamera);
    DeleteCameraKey(kUnlimitedCamera);
    TempFolder limitedFolder("limited"), unlimitedFolder("unlimited");
    // A day-old backlog of 45 images of 20 KB in each folder: 900 KB, so the limit comes soon.
    const std::int64_t dayAgo =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count() -
        86400;
    for (const TempFolder* folder : {&limitedFolder, &unlimitedFolder})
        for (int i = 0; i < kBacklog; ++i)
            std::ofstream(folder->File("yard" + std::to_string(dayAgo + i) + ".jpg"), std::ios::binary)
                << std::string(20 * 1024, 'x');

    const auto eventLog = [] {
        FlushEventLog();
        std::ifstream in(fs::path(EventLogPath()), std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    };
    const size_t logStart = eventLog().size();

    MainWindow main(true);
    camview* limited = main.Open(kLimitedCamera);
    camview* unlimited = main.Open(kUnlimitedCamera);
    ASSERT_NE(limited, nullptr);
    ASSERT_NE(unlimited, nullptr);
    for (const auto& [session, folder] :
         {std::pair{limited, &limitedFolder}, std::pair{unlimited, &unlimitedFolder}}) {
        ccamaction* action = session->ActionDialog();
        SetEdit(action, ids::Directory, folder->path());
        SetEdit(action, ids::FileName, "yard");
        SetEdit(action, ids::SaveSeconds, "1");
        SetCheck(action, ids::AppendTime, true);
        SetCheck(action, ids::SaveAuto, true);
    }
    ccamaction* limitedAction = limited->ActionDialog();
    SetEdit(limitedAction, ids::KeepMegabytes, "1");
    ::SendMessageA(limitedAction->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(ids::KeepMegabytes, EN_KILLFOCUS),
                   reinterpret_cast<LPARAM>(limitedAction->Item(ids::KeepMegabytes)));

    std::uintmax_t largestAfterAMinute = 0;
    std::string newestBefore;
    int newestLost = 0;
    const ULONGLONG start = ::GetTickCount64();
    for (int second = 1; second <= 120; ++second) {
        PumpUntil([] { return false; }, static_cast<DWORD>(start + second * 1000ULL - ::GetTickCount64()));
        const Images now = ImagesIn(limitedFolder);
        if (second > 60)
            largestAfterAMinute = std::max(largestAfterAMinute, now.bytes);
        // The newest image of a second ago is still there (a newer one may have come since).
        if (!newestBefore.empty() && !FileExists(limitedFolder.File(newestBefore)))
            ++newestLost;
        newestBefore = now.newest;
    }
    SetCheck(limitedAction, ids::SaveAuto, false);
    SetCheck(unlimited->ActionDialog(), ids::SaveAuto, false);
    PumpMessages(500);

    const Images limitedEnd = ImagesIn(limitedFolder), unlimitedEnd = ImagesIn(unlimitedFolder);
    std::printf(
        "limited: %zu images, %ju bytes at the end, at most %ju after the first minute; unlimited: %zu\n",
        limitedEnd.count, limitedEnd.bytes, largestAfterAMinute, unlimitedEnd.count);
    EXPECT_GT(largestAfterAMinute, kLimitBytes / 2) << "the camera saved too little to tell";
    EXPECT_LT(largestAfterAMinute, kLimitBytes);
    EXPECT_EQ(newestLost, 0);
    EXPECT_GE(limited->ImagesWritten(), 50u); // one every second second
    EXPECT_EQ(unlimitedEnd.count, kBacklog + unlimited->ImagesWritten()) << "no limit deletes nothing";

    const std::string log = eventLog().substr(logStart);
    EXPECT_NE(log.find("[" + kLimitedCamera + "]  retention deleted "), std::string::npos);
    EXPECT_EQ(log.find("[" + kUnlimitedCamera + "]  retention"), std::string::npos);
}
