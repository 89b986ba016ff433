// The automatic schedule on real test cameras with a clock of the test's own: what a tick saves,
// uploads (to a local FTP server) and mails (through the recording MAPI32.DLL), and once on the
// real camera timer.
#include "BoxWatcher.h"
#include "FtpServer.h"
#include "MailLog.h"
#include "SessionHarness.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "capture/CameraSlots.h"
#include "framework/EventLog.h"
#include "session/CameraSchedule.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

using lumetra::test::FtpServer;

namespace {

const std::string kCamera = "Schedule Cam";
const std::string kNoDevice = "Schedule Cam Nowhere";
constexpr char kUser[] = "camuser";
constexpr char kPassword[] = "s3cret";
constexpr std::int32_t kStart = 1'000'000'000;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string NarrowLogPath() {
    const std::wstring path = EventLogPath();
    return std::string(path.begin(), path.end()); // the prefix's paths are plain ASCII
}

class ScheduleTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        StartProgramLibraries();
        server = std::make_unique<FtpServer>(kUser, kPassword);
    }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(cameras.loaded());
        ASSERT_TRUE(camera.registered());
        ASSERT_TRUE(server->Ready());
        DeleteCameraKey(kCamera);
        DeleteCameraKey(kNoDevice);
        transcriptStart = server->Transcript().size();
        now = kStart;
        SetScheduleClock([this] { return now; });
    }
    void TearDown() override { SetScheduleClock(nullptr); }

    size_t MailsSent() const { return mailLog.Mails().size(); }
    // Finished uploads and logins of this test (the server serves the whole program).
    size_t Uploads() const { return CountOf(server->Transcript().substr(transcriptStart), " completed=1"); }
    size_t Logins() const { return CountOf(server->Transcript().substr(transcriptStart), "USER camuser"); }

    // Settings of a camera whose images go to folder, uploaded to the test server and mailed.
    void Configure(LiveView* session, const TempFolder& folder, const std::string& saveSeconds) {
        session->SetFtpPort(server->Port());
        CamActionDialog* action = session->ActionDialog();
        SetEdit(action, ids::Directory, folder.path());
        SetEdit(action, ids::SaveSeconds, saveSeconds);
        SetEdit(action, ids::FtpUrl, "127.0.0.1");
        SetEdit(action, ids::FtpUser, kUser);
        SetEdit(action, ids::FtpPassword, kPassword);
        SetEdit(action, ids::FtpSeconds, "1");
        SetEdit(action, ids::EmailAddresses, "watch@example.com");
        SetEdit(action, ids::EmailSeconds, "1");
    }

    // One tick of the camera timer, then `pumpMs` of messages: time for what it must not do to show.
    void Tick(MainWindow& main, DWORD pumpMs = 0) {
        main.Tick();
        if (pumpMs)
            PumpMessages(pumpMs);
    }

    TestCameras cameras;
    ScopedTestCamera camera{cameras, kCamera};
    ScopedMailLog mailLog;
    size_t transcriptStart = 0;
    std::int32_t now = kStart;
    static inline std::unique_ptr<FtpServer> server;
};

TEST_F(ScheduleTest, AnIntervalOfNSecondsSavesEveryNSeconds) {
    TempFolder folder("every");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "1");
    struct Row {
        const char* interval;
        std::vector<int> saveSeconds;
    };
    for (const Row& row : {Row{"1", {0, 1, 2, 3, 4, 5, 6}}, Row{"2", {0, 2, 4, 6}}, Row{"3", {0, 3, 6}}}) {
        SCOPED_TRACE(row.interval);
        SetEdit(session->ActionDialog(), ids::SaveSeconds, row.interval);
        SetCheck(session->ActionDialog(), ids::SaveAuto, true);
        std::vector<int> saveSeconds;
        const std::int32_t start = now += 100; // the last save of the row before is long past
        for (int second = 0; second < 7; ++second) {
            now = start + second;
            for (int tick = 0; tick < 5; ++tick) { // 200 ms apart
                const std::int32_t before = session->LastScheduledSave();
                const std::uint64_t written = session->ImagesWritten();
                Tick(main);
                if (session->LastScheduledSave() == before)
                    continue;
                saveSeconds.push_back(now - start);
                // Written before the next save asks, whose path would take its place.
                EXPECT_TRUE(PumpUntil([&] { return session->ImagesWritten() > written; }, 3000));
            }
        }
        EXPECT_EQ(saveSeconds, row.saveSeconds);
        SetCheck(session->ActionDialog(), ids::SaveAuto, false);
    }
    EXPECT_TRUE(PumpUntil([&] { return session->ImagesWritten() >= 14; }, 3000));
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"image.jpg"});
    EXPECT_EQ(Uploads(), 0u); // FTP Auto and Email Auto are off
    EXPECT_EQ(MailsSent(), 0u);
}

TEST_F(ScheduleTest, UploadAndMailHappenOnlyOnSavingTicksAndCarryTheImageJustAskedFor) {
    TempFolder folder("deliver");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "3");
    SetEdit(session->ActionDialog(), ids::FileName, "shot");
    SetCheck(session->ActionDialog(), ids::FtpAuto, true);
    SetCheck(session->ActionDialog(), ids::EmailAuto, true);
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    std::vector<int> uploadSeconds, mailSeconds;
    for (int second = 0; second < 10; ++second) {
        now = kStart + second;
        const size_t uploadsBefore = Uploads(), mailsBefore = MailsSent();
        Tick(main, 20);
        Tick(main, 20);
        // Both go out on threads of their own once the image is written.
        if (second % 3 == 0)
            PumpUntil([&] { return Uploads() != uploadsBefore && MailsSent() != mailsBefore; }, 3000);
        PumpUntil([&] { return !session->DeliveryBusy(); }, 3000);
        if (Uploads() != uploadsBefore)
            uploadSeconds.push_back(second);
        if (MailsSent() != mailsBefore)
            mailSeconds.push_back(second);
        if (second == 0) {
            // The first upload already carries the new image: it waited until the file was written.
            const std::string uploaded = ReadAll(server->Root() + "\\shot.jpg");
            EXPECT_FALSE(uploaded.empty());
            EXPECT_EQ(uploaded, ReadAll(folder.File("shot.jpg")));
        }
    }
    EXPECT_EQ(uploadSeconds, (std::vector<int>{0, 3, 6, 9}));
    EXPECT_EQ(mailSeconds, (std::vector<int>{0, 3, 6, 9}));
    const std::string mails = ReadAll(mailLog.path());
    EXPECT_NE(mails.find("watch@example.com"), std::string::npos);
    EXPECT_NE(mails.find("shot.jpg"), std::string::npos);
}

TEST_F(ScheduleTest, APathTooLongForTheCameraIsNeitherSavedNorSent) {
    TempFolder folder("long");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "1");
    // The folder and name are within their limits, the whole path is not (260 bytes or more).
    const std::string name(std::max<int>(1, 262 - static_cast<int>(folder.path().size())), 'n');
    SetEdit(session->ActionDialog(), ids::FileName, name);
    SetCheck(session->ActionDialog(), ids::FtpAuto, true);
    SetCheck(session->ActionDialog(), ids::EmailAuto, true);
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    BoxWatcher boxes;
    const size_t logStart = ReadAll(NarrowLogPath()).size();
    for (int second = 0; second < 4; ++second) {
        now = kStart + 2 * second;
        Tick(main, 50);
    }
    EXPECT_EQ(Uploads(), 0u);
    EXPECT_EQ(Logins(), 0u);
    EXPECT_EQ(MailsSent(), 0u);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_TRUE(boxes.Seen().empty());
    // A shorter name saves and sends again on the next tick.
    SetEdit(session->ActionDialog(), ids::FileName, "ok");
    now += 2;
    Tick(main);
    PumpUntil([&] { return Uploads() != 0; }, 3000);
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"ok.jpg"});
    EXPECT_NE(Uploads(), 0u);
    EXPECT_EQ(Logins(), 1u);
    // Refused before anything was written, the failed saves are still logged: once for the run.
    FlushEventLog();
    const std::string log = ReadAll(NarrowLogPath()).substr(logStart);
    EXPECT_EQ(CountOf(log, "could not save: the path is too long (259 characters at most)"), 1u) << log;
    EXPECT_EQ(CountOf(log, "saving works again"), 1u) << log;
}

TEST_F(ScheduleTest, UnusableIntervalsAreRefusedAndLeaveTheirAutomaticActionOff) {
    TempFolder folder("off");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "1");
    CamActionDialog* action = session->ActionDialog();
    HWND window = action->GetSafeHwnd();
    SetCheck(action, ids::FtpAuto, true);
    SetCheck(action, ids::EmailAuto, true);
    for (int second = 0; second < 4; ++second, ++now)
        Tick(main, 50); // Save Auto off: nothing, whatever FTP Auto and Email Auto say
    EXPECT_EQ(session->LastScheduledSave(), 0);
    EXPECT_EQ(Logins(), 0u);
    EXPECT_EQ(MailsSent(), 0u);

    BoxWatcher boxes;
    const std::string refusal = "Please enter an integer between 1 and 86400.";
    struct Automatic {
        int box, interval;
        SessionSwitch on;
    };
    for (const Automatic& automatic :
         {Automatic{ids::SaveAuto, ids::SaveSeconds, SessionSwitch::SaveAuto},
          Automatic{ids::FtpAuto, ids::FtpSeconds, SessionSwitch::FtpAuto},
          Automatic{ids::EmailAuto, ids::EmailSeconds, SessionSwitch::EmailAuto}}) {
        SCOPED_TRACE("box " + std::to_string(automatic.box));
        SetCheck(action, automatic.box, false);
        for (const char* interval : {"0", "-5", "abc", "", "99999999999"}) {
            SetEdit(action, automatic.interval, interval);
            const size_t seen = boxes.Seen().size();
            SetCheck(action, automatic.box, true);
            ASSERT_EQ(boxes.Seen().size(), seen + 1) << "'" << interval << "'";
            EXPECT_EQ(boxes.Seen().back().text, refusal);
            EXPECT_FALSE(IsChecked(window, automatic.box));
            EXPECT_FALSE(session->SwitchOn(automatic.on));
        }
        // Edited while ticked: one message, and the action stops.
        SetEdit(action, automatic.interval, "2");
        SetCheck(action, automatic.box, true);
        EXPECT_TRUE(session->SwitchOn(automatic.on));
        const size_t seen = boxes.Seen().size();
        SetEdit(action, automatic.interval, "");
        SetEdit(action, automatic.interval, "0");
        EXPECT_EQ(boxes.Seen().size(), seen + 1);
        EXPECT_EQ(boxes.Seen().back().text, refusal);
        EXPECT_EQ(::GetFocus(), action->Item(automatic.interval));
        EXPECT_FALSE(IsChecked(window, automatic.box));
        EXPECT_FALSE(session->SwitchOn(automatic.on));
        SetEdit(action, automatic.interval, "1");
    }
    for (int second = 0; second < 3; ++second, ++now)
        Tick(main, 50);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(Logins(), 0u);
    EXPECT_EQ(MailsSent(), 0u);
}

TEST_F(ScheduleTest, TheFirstTickAfterSwitchingOnSavesAtOnceAndSwitchingResetsNoTime) {
    TempFolder folder("first");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "30");
    Tick(main);
    EXPECT_EQ(session->LastScheduledSave(), 0);
    now += 7;
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    Tick(main, 0);
    EXPECT_EQ(session->LastScheduledSave(), now);
    EXPECT_TRUE(PumpUntil([&] { return session->ImagesWritten() == 1; }, 3000));
    const std::int32_t saved = now;
    SetCheck(session->ActionDialog(), ids::SaveAuto, false);
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    now += 5;
    Tick(main);
    EXPECT_EQ(session->LastScheduledSave(), saved);
}

// A save that writes nothing is not a save: nothing is mirrored, uploaded or mailed for it.
TEST_F(ScheduleTest, ANameThatMatchesNoDeviceKeepsTickingAndSendsNothingUnwritten) {
    TempFolder folder("nowhere");
    MainWindow main;
    LiveView* session = main.Open(kNoDevice, true);
    ASSERT_NE(session, nullptr);
    BoxWatcher boxes;
    Configure(session, folder, "1");
    CamActionDialog* action = session->ActionDialog();
    SetCheck(action, ids::MirrorToHttp, true);
    SetCheck(action, ids::FtpAuto, true);
    SetCheck(action, ids::EmailAuto, true);
    SetCheck(action, ids::SaveAuto, true);
    const std::string path = folder.File("image.jpg");
    for (int round = 0; round < 2; ++round) {
        const DWORD start = ::GetTickCount();
        Tick(main, 300);
        EXPECT_LT(::GetTickCount() - start, 1500u) << "a tick waited for a frame that cannot come";
        now += 2;
    }
    EXPECT_TRUE(main.dialog().HasSession(session));
    EXPECT_NE(MirrorBlockText(), "PATH=" + path + "\n");
    const nlohmann::json onWeb = CamerasOnWeb(); // shown as waited for, not as live
    EXPECT_EQ(onWeb.is_array() && onWeb.size() == 1 ? onWeb[0].value("state", "") : "", "waiting") << onWeb;
    EXPECT_EQ(Logins(), 0u);
    EXPECT_EQ(MailsSent(), 0u);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(CameraSlotAt(session->CameraIndex()).frameWanted.load(), 1);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(ScheduleTest, AFolderDeletedUnderSaveAutoSendsNothingUntilSavingWorksAgain) {
    TempFolder folder("deleted");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    Configure(session, folder, "1");
    SetCheck(session->ActionDialog(), ids::FtpAuto, true);
    SetCheck(session->ActionDialog(), ids::EmailAuto, true);
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    SetCheck(session->ActionDialog(), ids::MirrorToHttp, true); // its health is told on the web too
    const auto onWeb = [] {
        const nlohmann::json cameras = CamerasOnWeb();
        return cameras.is_array() && cameras.size() == 1 ? cameras[0] : nlohmann::json();
    };
    const auto runSecond = [&] {
        const auto handled = session->ImagesWritten() + session->SavesFailed();
        now += 2;
        Tick(main);
        PumpUntil([&] { return session->ImagesWritten() + session->SavesFailed() > handled; }, 3000);
        PumpUntil([&] { return !session->DeliveryBusy(); }, 3000);
    };
    const size_t logStart = ReadAll(NarrowLogPath()).size();
    runSecond();
    ASSERT_TRUE(PumpUntil([&] { return Uploads() == 1 && MailsSent() == 1; }, 3000));

    BoxWatcher boxes;
    HWND status = ::GetDlgItem(session->GetSafeHwnd(), live_view_ids::SaveStatus);
    EXPECT_EQ(GetText(status), "");
    std::filesystem::remove_all(folder.path());
    for (int second = 0; second < 3; ++second)
        runSecond();
    ASSERT_TRUE(PumpUntil([&] { return session->SavesFailed() >= 3; }, 3000));
    EXPECT_EQ(Uploads(), 1u);
    EXPECT_EQ(MailsSent(), 1u);
    EXPECT_EQ(GetText(status), "Last save failed: the folder does not exist");
    const nlohmann::json failing = onWeb();
    EXPECT_EQ(failing.value("name", ""), kCamera) << failing;
    EXPECT_EQ(failing.value("state", ""), "failing") << failing;
    EXPECT_EQ(failing.value("reason", ""), "the folder does not exist") << failing;
    EXPECT_EQ(failing.value("image", ""), folder.File("image.jpg")) << failing; // the last one written
    EXPECT_GT(failing.value("lastSave", 0ll), 0) << failing;
    EXPECT_GE(failing.value("lastFailure", 0ll), failing.value("lastSave", 0ll)) << failing;
    // A name the schedule cannot use is shown the same way, without a box.
    SetEdit(session->ActionDialog(), ids::FileName, "a/b");
    now += 2;
    Tick(main); // refused within the tick
    EXPECT_EQ(GetText(status), "Last save failed: the file name is not a plain file name");
    SetEdit(session->ActionDialog(), ids::FileName, "");

    ::CreateDirectoryA(folder.path().c_str(), nullptr);
    runSecond();
    EXPECT_TRUE(PumpUntil([&] { return Uploads() == 2 && MailsSent() == 2; }, 3000));
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"image.jpg"});
    EXPECT_EQ(GetText(status), "");
    const nlohmann::json working = onWeb();
    EXPECT_EQ(working.value("state", ""), "live") << working;
    EXPECT_EQ(working.value("reason", "?"), "") << working;
    EXPECT_EQ(working.value("lastFailureReason", ""), "the file name is not a plain file name") << working;
    EXPECT_GE(working.value("lastSave", 0ll), failing.value("lastFailure", 0ll)) << working;
    EXPECT_TRUE(boxes.Seen().empty());
    FlushEventLog();
    const std::string log = ReadAll(NarrowLogPath()).substr(logStart);
    EXPECT_EQ(CountOf(log, "could not save " + folder.File("image.jpg")), 1u) << log;
    EXPECT_EQ(CountOf(log, "saving works again"), 1u) << log;
}

TEST_F(ScheduleTest, TheRealCameraTimerSavesEverySecond) {
    SetScheduleClock(nullptr);
    TempFolder folder("real");
    MainWindow main(true);
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    SetEdit(session->ActionDialog(), ids::Directory, folder.path());
    SetEdit(session->ActionDialog(), ids::SaveSeconds, "1");
    SetCheck(session->ActionDialog(), ids::AppendTime, true);
    SetCheck(session->ActionDialog(), ids::SaveAuto, true);
    PumpMessages(3600); // real time, for the real timer
    // The first save comes at once, anywhere within its second; then one at every turn of a second.
    const std::vector<std::string> files = folder.Files();
    ASSERT_GE(files.size(), 3u);
    ASSERT_LE(files.size(), 5u);
    std::vector<long> stamps;
    for (const std::string& name : files) {
        EXPECT_TRUE(IsJpeg(folder.File(name)));
        stamps.push_back(std::stol(name.substr(5, name.size() - 9))); // image<stamp>.jpg
    }
    for (size_t i = 1; i < stamps.size(); ++i)
        EXPECT_EQ(stamps[i] - stamps[i - 1], 1);
}

} // namespace
