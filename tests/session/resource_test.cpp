// Long runs on a real test camera: opening and closing a camera, and automatic saves, leave the
// process's handles, GDI objects and private memory where they were.
#include "PlatformShare.h"
#include "SessionHarness.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "session/CameraSchedule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

const std::string kCamera = "Resource Cam";

void Print(const char* what, const ResourceCounts& before, const ResourceCounts& after) {
    std::printf("%s: handles %lu -> %lu, GDI objects %lu -> %lu, private bytes %zu -> %zu\n", what,
                static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles),
                static_cast<unsigned long>(before.gdiObjects), static_cast<unsigned long>(after.gdiObjects),
                static_cast<size_t>(before.privateBytes), static_cast<size_t>(after.privateBytes));
}

class ResourceTest : public OneCameraTest {
  protected:
    ResourceTest() : OneCameraTest(kCamera) {}
    void TearDown() override { SetScheduleClock(nullptr); }
};

TEST_F(ResourceTest, TheCountersSeeObjectsComeAndGo) {
    // The counters the tests below rely on (on Wine they are worked out by the harness).
    const ResourceCounts start = CurrentResources();
    ASSERT_GT(start.handles, 0u);
    ASSERT_GT(start.privateBytes, 0u);
    std::vector<HANDLE> events;
    for (int i = 0; i < 25; ++i)
        events.push_back(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(CurrentResources().handles, start.handles + 25);
    for (HANDLE event : events)
        ::CloseHandle(event);
    EXPECT_EQ(CurrentResources().handles, start.handles);
    void* block = ::VirtualAlloc(nullptr, 8 * 1024 * 1024, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    EXPECT_GE(CurrentResources().privateBytes, start.privateBytes + 8 * 1024 * 1024);
    ::VirtualFree(block, 0, MEM_RELEASE);

    const DWORD before = CurrentResources().gdiObjects;
    ASSERT_GT(before, 0u);
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < 25; ++i)
        brushes.push_back(::CreateSolidBrush(RGB(i, 0, 0)));
    EXPECT_EQ(CurrentResources().gdiObjects, before + 25);
    for (HBRUSH brush : brushes)
        ::DeleteObject(brush);
    EXPECT_EQ(CurrentResources().gdiObjects, before);
}

TEST_F(ResourceTest, OpeningAndClosingACamera100TimesLeavesHandlesAndGdiObjects) {
    MainWindow main;
    auto cycle = [&] {
        LiveView* session = main.Open(kCamera);
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(session->Graph().running());
        ::SendMessageA(session->GetSafeHwnd(), WM_CLOSE, 0, 0); // posts its Cancel command
        ASSERT_TRUE(PumpUntil([&] { return !main.dialog().HasSession(session); }, 3000));
    };
    for (int i = 0; i < 10; ++i) // first-use allocations (COM classes, codecs, fonts)
        cycle();
    // Each count is taken after a pause: what the closed sessions leave (queued messages, ending
    // threads) goes first.
    PumpMessages(200);
    // The platform's own share per open, counted by the same DirectShow calls made directly.
    const ResourceCounts platformBefore = CurrentResources();
    for (int i = 0; i < 100; ++i)
        DirectShowPlatformCycle();
    const ResourceCounts before = CurrentResources();
    const long platformHandles =
        static_cast<long>(before.handles) - static_cast<long>(platformBefore.handles);
    std::printf("platform share of 100 opens: %+ld handles\n", platformHandles);
    for (int i = 0; i < 100; ++i) {
        cycle();
        if (HasFatalFailure())
            return;
    }
    PumpMessages(300); // as before the count above
    const ResourceCounts after = CurrentResources();
    Print("100 opens", before, after);
    EXPECT_TRUE(main.dialog().OpenSessions().empty());
    EXPECT_LE(static_cast<long>(after.handles) - static_cast<long>(before.handles), platformHandles + 10);
    EXPECT_LE(after.gdiObjects, before.gdiObjects + 10);
}

TEST_F(ResourceTest, FourHundredAutomaticSavesLeaveHandlesGdiObjectsAndMemoryFlat) {
    TempFolder folder("four-hundred");
    std::int32_t now = 1'500'000'000;
    SetScheduleClock([&] { return now; });
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    SetEdit(action, ids::Directory, folder.path());
    SetEdit(action, ids::SaveSeconds, "1");
    SetEdit(action, ids::Text, "Resource run");
    SetEdit(action, ids::TextX, "10"); // publishes the overlay with the text
    SetCheck(action, ids::SaveAuto, true);
    auto save = [&] {
        now += 2;
        main.Tick();
        PumpMessages(1); // the frame-ready message of the save, if it has come: saves may be missed
    };
    for (int i = 0; i < 50; ++i)
        save();
    // Each count is taken after a pause, once the last save's frame is handled.
    PumpMessages(300);
    const ResourceCounts before = CurrentResources();
    const std::uint64_t writtenBefore = session->ImagesWritten();
    for (int i = 0; i < 400; ++i)
        save();
    PumpMessages(300); // as before the count above
    const ResourceCounts after = CurrentResources();
    Print("400 saves", before, after);
    const std::uint64_t written = session->ImagesWritten() - writtenBefore;
    std::printf("images written during the run: %llu\n", static_cast<unsigned long long>(written));
    EXPECT_GE(written, 200u);
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"image.jpg"});
    EXPECT_LE(after.handles, before.handles + 10);
    EXPECT_LE(after.gdiObjects, before.gdiObjects + 10);
    EXPECT_LE(after.privateBytes, before.privateBytes + 4 * 1024 * 1024);
}

} // namespace
