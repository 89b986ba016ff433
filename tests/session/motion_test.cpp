// Saving on motion with real test cameras on the real camera timer: a still camera whose light fades
// saves nothing, a camera where something starts moving saves at once and then once per gap, mailed
// as the schedule mails, and stops when the movement stops; the settings come back on reopening.
#include "SessionHarness.h"
#include "TestCameras.h"
#include "TestPattern.h"
#include "WindowDriver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;
using namespace lumetra::testcam;

namespace {

const std::string kStillCamera = "Motion Still Cam";
const std::string kMovingCamera = "Motion Moving Cam";

size_t MailsIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    size_t count = 0;
    for (size_t at = log.find("SEND\t"); at != std::string::npos; at = log.find("SEND\t", at + 1))
        ++count;
    return count;
}

class MotionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartProgramLibraries(); }
    void SetUp() override {
        ASSERT_TRUE(cameras.loaded());
        ASSERT_TRUE(still.registered() && moving.registered());
        DeleteCameraKey(kStillCamera);
        DeleteCameraKey(kMovingCamera);
        char exe[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
        mailLog = std::string(exe).substr(0, std::string(exe).find_last_of('\\')) + "\\mapi_motion_" +
                  std::to_string(::GetCurrentProcessId()) + ".log";
        ::DeleteFileA(mailLog.c_str());
        ::SetEnvironmentVariableA("LUMETRA_MAPI_LOG", mailLog.c_str());
    }
    void TearDown() override {
        cameras.SetScene(kStillCamera, 0);
        cameras.SetScene(kMovingCamera, 0);
        ::DeleteFileA(mailLog.c_str());
    }

    // The camera's images go to folder with the time in their names; Save on Motion ticked.
    static void WatchForMotion(LiveView* session, const TempFolder& folder) {
        CamActionDialog* action = session->ActionDialog();
        SetEdit(action, ids::Directory, folder.path());
        SetCheck(action, ids::AppendTime, true);
        SetCheck(action, ids::SaveOnMotion, true);
    }

    TestCameras cameras;
    ScopedTestCamera still{cameras, kStillCamera};
    ScopedTestCamera moving{cameras, kMovingCamera};
    std::string mailLog;
};

TEST_F(MotionTest, MovementSavesAtOnceThenOncePerGapWhileStillnessAndFadingLightSaveNothing) {
    ASSERT_TRUE(cameras.SetScene(kStillCamera, kSceneStill | kSceneDimming));
    ASSERT_TRUE(cameras.SetScene(kMovingCamera, kSceneStill));
    TempFolder stillFolder("still"), movingFolder("moving");
    MainWindow main(true);
    LiveView* stillSession = main.Open(kStillCamera);
    LiveView* movingSession = main.Open(kMovingCamera);
    ASSERT_NE(stillSession, nullptr);
    ASSERT_NE(movingSession, nullptr);
    const ULONGLONG watchStart = ::GetTickCount64();
    WatchForMotion(stillSession, stillFolder);
    WatchForMotion(movingSession, movingFolder);
    CamActionDialog* movingAction = movingSession->ActionDialog();
    // Each motion save is mailed, as a schedule's save is (the mail interval is shorter than the gap).
    SetEdit(movingAction, ids::EmailAddresses, "door@example.com");
    SetEdit(movingAction, ids::EmailSeconds, "1");
    SetCheck(movingAction, ids::EmailAuto, true);
    PumpMessages(1500); // the backgrounds are learnt

    // Times (ms after the start of the movement) at which new images appeared.
    std::vector<ULONGLONG> saves;
    ULONGLONG movementStart = 0;
    const auto watchFor = [&](DWORD milliseconds) {
        const ULONGLONG end = ::GetTickCount64() + milliseconds;
        while (::GetTickCount64() < end) {
            PumpMessages(20);
            while (movingFolder.Files().size() > saves.size())
                saves.push_back(::GetTickCount64() - movementStart);
        }
    };
    movementStart = ::GetTickCount64();
    ASSERT_TRUE(cameras.SetScene(kMovingCamera, kSceneStill | kSceneMoving));
    watchFor(7000);
    const std::string movingLevel = GetItemText(movingAction->GetSafeHwnd(), ids::MotionLevel);
    std::string times;
    for (const ULONGLONG at : saves)
        times += " " + std::to_string(at);
    std::printf("images at (ms after the movement started):%s\n", times.c_str());
    ASSERT_FALSE(saves.empty());
    EXPECT_LE(saves.front(), 1000u) << "the first image comes within a second";
    for (size_t i = 1; i < saves.size(); ++i)
        EXPECT_GE(saves[i] - saves[i - 1], 1900u) << "image " << i << " came before the 2 s gap";
    EXPECT_GE(saves.size(), 3u);
    EXPECT_NE(movingLevel.find("changed, saves above 1.0 %"), std::string::npos) << movingLevel;
    EXPECT_GT(std::stod(movingLevel), 1.0) << movingLevel;

    ASSERT_TRUE(cameras.SetScene(kMovingCamera, kSceneStill));
    watchFor(4500); // the block standing in its new place becomes background
    const size_t afterStop = saves.size();
    watchFor(5000);
    EXPECT_EQ(saves.size(), afterStop) << "saving goes on after the movement stopped";

    // The still camera, its light fading over 20 s of the 30 s watched, saved nothing.
    const ULONGLONG watched = ::GetTickCount64() - watchStart;
    if (watched < 30000)
        PumpMessages(static_cast<DWORD>(30000 - watched));
    EXPECT_TRUE(stillFolder.Files().empty());
    EXPECT_EQ(GetItemText(stillSession->ActionDialog()->GetSafeHwnd(), ids::MotionLevel),
              "0.0 % changed, saves above 1.0 %");

    // Each motion image was saved as an automatic one and mailed.
    const std::vector<std::string> files = movingFolder.Files();
    for (const std::string& name : files)
        EXPECT_TRUE(name.size() > 9 && name.rfind("image", 0) == 0 && IsJpeg(movingFolder.File(name)))
            << name;
    EXPECT_TRUE(PumpUntil([&] { return MailsIn(mailLog) == files.size(); }, 3000)) << MailsIn(mailLog);
}

TEST_F(MotionTest, SaveOnMotionComesBackOnReopenAndAnOlderCameraOpensWithItOff) {
    {
        MainWindow main;
        LiveView* session = main.Open(kMovingCamera);
        ASSERT_NE(session, nullptr);
        CamActionDialog* action = session->ActionDialog();
        SetEdit(action, ids::MotionShare, "35");
        SetEdit(action, ids::PixelChange, "60");
        SetEdit(action, ids::MotionGap, "9");
        SetCheck(action, ids::SaveOnMotion, true);
        EXPECT_TRUE(session->SwitchOn(SessionSwitch::SaveOnMotion));
        HWND window = action->GetSafeHwnd();
        ::SendMessageA(window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(window); }, 3000));
    }
    const std::pair<const char*, DWORD> stored[] = {{"MOT", 1}, {"MSE", 35}, {"MTH", 60}, {"MGP", 9}};
    for (const auto& [name, expected] : stored) {
        DWORD value = 0, size = sizeof value;
        EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, ("Software\\_ORVANE\\Lumetra\\" + kMovingCamera).c_str(),
                                 name, RRF_RT_REG_DWORD, nullptr, &value, &size),
                  ERROR_SUCCESS)
            << name;
        EXPECT_EQ(value, expected) << name;
    }
    // A key written before motion saving existed.
    DeleteCameraKey(kStillCamera);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\_ORVANE\\Lumetra\\" + kStillCamera).c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ::RegSetValueExA(key, "AVI", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    ::RegSetValueExA(key, "OFS", 0, REG_SZ, reinterpret_cast<const BYTE*>("5"), 2);
    ::RegCloseKey(key);

    MainWindow main;
    LiveView* reopened = main.Open(kMovingCamera);
    LiveView* older = main.Open(kStillCamera);
    ASSERT_NE(reopened, nullptr);
    ASSERT_NE(older, nullptr);
    HWND reopenedWindow = reopened->ActionDialog()->GetSafeHwnd();
    EXPECT_TRUE(reopened->SwitchOn(SessionSwitch::SaveOnMotion));
    EXPECT_TRUE(IsChecked(reopenedWindow, ids::SaveOnMotion));
    EXPECT_EQ(GetItemText(reopenedWindow, ids::MotionShare), "35");
    EXPECT_EQ(GetItemText(reopenedWindow, ids::PixelChange), "60");
    EXPECT_EQ(GetItemText(reopenedWindow, ids::MotionGap), "9");
    HWND olderWindow = older->ActionDialog()->GetSafeHwnd();
    EXPECT_FALSE(older->SwitchOn(SessionSwitch::SaveOnMotion));
    EXPECT_FALSE(IsChecked(olderWindow, ids::SaveOnMotion));
    EXPECT_EQ(GetItemText(olderWindow, ids::MotionShare), "10");
    EXPECT_EQ(GetItemText(olderWindow, ids::PixelChange), "25");
    EXPECT_EQ(GetItemText(olderWindow, ids::MotionGap), "2");
    EXPECT_EQ(GetItemText(olderWindow, ids::SaveSeconds), "5");
}

} // namespace
