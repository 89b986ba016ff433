// Running with nobody at the keyboard, on the real camera timer and clock: a box left open, a
// server that never answers and a camera unplugged hold back only the camera they concern, and the
// event log tells what happened.
#include <winsock2.h>

#include "BoxWatcher.h"
#include "FtpServer.h"
#include "SessionHarness.h"
#include "TestCameras.h"
#include "TestPattern.h"
#include "WindowDriver.h"
#include "MailLog.h"
#include "delivery/ImagePath.h"
#include "session/CameraSchedule.h"
#include "session/CameraWatcher.h"
#include "session/LiveViewIds.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

using namespace lumetra;
using namespace lumetra::test;
using namespace std::chrono_literals;
namespace ids = lumetra::cam_action_ids;

namespace {

const std::string kCameraA = "Unattended A";
const std::string kCameraB = "Unattended B";

// Measures, from a thread of its own, how long the windows take to answer a message.
class ResponsivenessProbe {
  public:
    explicit ResponsivenessProbe(std::vector<HWND> windows)
        : thread_([this, windows] {
              while (!stop_) {
                  for (HWND window : windows) {
                      const auto start = std::chrono::steady_clock::now();
                      DWORD_PTR result = 0;
                      ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
                      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start);
                      slowest_ = std::max<long long>(slowest_, took.count());
                  }
                  std::this_thread::sleep_for(50ms);
              }
          }) {}
    ~ResponsivenessProbe() {
        stop_ = true;
        thread_.join();
    }
    long long SlowestMs() const { return slowest_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<long long> slowest_{0};
    std::thread thread_;
};

// An FTP server that accepts connections (the backlog does) and never says a word.
class SilentServer {
  public:
    SilentServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(socket_, 8) == 0 &&
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ::ntohs(address.sin_port);
    }
    ~SilentServer() {
        Close();
        ::WSACleanup();
    }
    unsigned short Port() const { return port_; }
    void Close() {
        if (socket_ != INVALID_SOCKET)
            ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    unsigned short port_ = 0;
};

class Unattended : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartProgramLibraries(); }
    void SetUp() override {
        ASSERT_TRUE(cameras.loaded());
        ASSERT_TRUE(cameraA.registered() && cameraB.registered());
        DeleteCameraKey(kCameraA);
        DeleteCameraKey(kCameraB);
        logStart = EventLogText().size();
    }
    // A test may have set the clock of a lost camera's looks.
    void TearDown() override { SetDeviceLookClock(nullptr); }

    // Opens a camera that saves every second into folder, with time-stamped names.
    LiveView* OpenSaving(MainWindow& main, const std::string& name, const TempFolder& folder) {
        LiveView* session = main.Open(name);
        if (!session)
            return nullptr;
        SetEdit(session->ActionDialog(), ids::Directory, folder.path());
        SetEdit(session->ActionDialog(), ids::SaveSeconds, "1");
        SetCheck(session->ActionDialog(), ids::AppendTime, true);
        SetCheck(session->ActionDialog(), ids::SaveAuto, true);
        return session;
    }
    // FTP Auto every second to a server on this port.
    static void UploadTo(LiveView* session, unsigned short port) {
        session->SetFtpPort(port);
        SetEdit(session->ActionDialog(), ids::FtpUrl, "127.0.0.1");
        SetEdit(session->ActionDialog(), ids::FtpSeconds, "1");
        SetCheck(session->ActionDialog(), ids::FtpAuto, true);
    }
    std::string NewLogLines() { return EventLogText().substr(logStart); }

    TestCameras cameras;
    ScopedTestCamera cameraA{cameras, kCameraA};
    ScopedTestCamera cameraB{cameras, kCameraB};
    size_t logStart = 0;
};

// Images whose time stamp falls in [from, to], by their names (prefix, stamp, ".jpg").
size_t ImagesStamped(const TempFolder& folder, long long from, long long to) {
    size_t count = 0;
    for (const std::string& name : folder.Files()) {
        const long long stamp = std::atoll(name.substr(5, name.size() - 9).c_str()); // image<stamp>.jpg
        count += stamp >= from && stamp <= to;
    }
    return count;
}

// The Live View's line about the camera's automatic uploads.
std::string UploadLine(LiveView* session) {
    return GetItemText(session->GetSafeHwnd(), live_view_ids::UploadStatus);
}

TEST_F(Unattended, FailingAutomaticUploadsRaiseNoBoxAndShowInTheLiveViewUntilOneWorks) {
    TempFolder folderA("box-a"), folderB("box-b");
    MainWindow main(true);
    LiveView* a = OpenSaving(main, kCameraA, folderA);
    LiveView* b = OpenSaving(main, kCameraB, folderB);
    ASSERT_TRUE(a && b);
    BoxWatcher boxes;
    UploadTo(a, FreeLoopbackPort()); // nothing listens there
    ASSERT_TRUE(PumpUntil([&] { return !UploadLine(a).empty(); }, 15000));
    EXPECT_EQ(UploadLine(a).rfind("Last upload failed: ", 0), 0u) << UploadLine(a);
    const long long failing = SecondsSince1970();
    PumpMessages(5000); // the uploads fail every second meanwhile
    EXPECT_GE(ImagesStamped(folderA, failing + 1, failing + 4), 2u) << "the camera kept saving";
    EXPECT_GE(ImagesStamped(folderB, failing + 1, failing + 4), 2u);
    EXPECT_EQ(CountOf(NewLogLines(), "[Unattended A]  FTP upload of image"), 1u) << "one line for the run";

    FtpServer server("camuser", "s3cret");
    ASSERT_TRUE(server.Ready());
    SetEdit(a->ActionDialog(), ids::FtpUser, "camuser");
    SetEdit(a->ActionDialog(), ids::FtpPassword, "s3cret");
    a->SetFtpPort(server.Port());
    EXPECT_TRUE(PumpUntil([&] { return UploadLine(a).empty(); }, 15000)) << UploadLine(a);
    EXPECT_TRUE(boxes.Seen().empty());
    main.Exit();
}

TEST_F(Unattended, AServerThatNeverAnswersEndsInALiveViewLineAndHoldsUpNoWindow) {
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);

    TempFolder folderA("silent-a"), folderB("silent-b");
    MainWindow main(true);
    LiveView* a = OpenSaving(main, kCameraA, folderA);
    LiveView* b = OpenSaving(main, kCameraB, folderB);
    ASSERT_TRUE(a && b);
    BoxWatcher boxes(1s);
    const auto savedA = a->ImagesWritten(), savedB = b->ImagesWritten();
    {
        ResponsivenessProbe probe(
            {main.hwnd(), a->GetSafeHwnd(), b->GetSafeHwnd(), a->ActionDialog()->GetSafeHwnd()});
        UploadTo(a, silent.Port());
        const DWORD start = ::GetTickCount();
        // Wine waits 30 s for the greeting, then 30 s more for the answer to USER.
        ASSERT_TRUE(PumpUntil([&] { return !UploadLine(a).empty(); }, 100000)) << "the upload timed out";
        const DWORD waited = ::GetTickCount() - start;
        EXPECT_GE(waited, 20000u) << "the box came after the timeout, not at once";
        PumpMessages(1500); // the windows are watched a while longer, after the box
        EXPECT_LT(probe.SlowestMs(), 500) << "every window answered within a fraction of a second";
        // Saves every second all along (counted as at least one in two, for a loaded machine).
        EXPECT_GE(a->ImagesWritten() - savedA, waited / 2000 - 2);
        EXPECT_GE(b->ImagesWritten() - savedB, waited / 2000 - 2);
    }
    EXPECT_TRUE(boxes.Seen().empty());
    main.Exit();
}

TEST_F(Unattended, ClosingThePairWithItsUploadRunningOrItsBoxOpenIsSafe) {
    TempFolder folder("close");
    MainWindow main(true);
    // An upload that cannot end by itself: closing the pair neither waits for it nor is touched by it.
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);
    LiveView* a = OpenSaving(main, kCameraA, folder);
    ASSERT_NE(a, nullptr);
    UploadTo(a, silent.Port());
    ASSERT_TRUE(PumpUntil([&] { return a->DeliveryBusy(); }, 5000));
    HWND liveView = a->GetSafeHwnd();
    const DWORD start = ::GetTickCount();
    ::SendMessageA(liveView, WM_CLOSE, 0, 0); // posts its Cancel command
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(liveView); }, 3000));
    EXPECT_LT(::GetTickCount() - start, 1000u);
    silent.Close();     // the orphaned upload fails now, with nobody left to tell
    PumpMessages(1500); // time for its end to come back, which must touch nothing

    // The box of a failed upload is open when the pair closes, then answered.
    LiveView* b = OpenSaving(main, kCameraB, folder);
    ASSERT_NE(b, nullptr);
    liveView = b->GetSafeHwnd();
    HWND camAction = b->ActionDialog()->GetSafeHwnd();
    bool boxSeen = false;
    Driver driver([&] {
        HWND box = WaitForWindow("Error", 15000);
        boxSeen = box != nullptr;
        ::PostMessageA(camAction, WM_CLOSE, 0, 0);
        WaitForWindowGone(camAction, 10000); // closed from the box's message loop (checked below)
        if (::IsWindow(box))
            Answer(box, IDOK);
    });
    // The user's upload, which tells its failure in a box.
    b->SetFtpPort(FreeLoopbackPort());
    SetEdit(b->ActionDialog(), ids::FtpUrl, "127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return b->ImagesWritten() > 0; }, 5000));
    PressButton(b->ActionDialog(), ids::FtpLastImage);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(liveView) && !::IsWindow(camAction); }, 20000));
    driver.Join();
    EXPECT_TRUE(boxSeen);
    EXPECT_TRUE(main.dialog().OpenSessions().empty());
    PumpMessages(500); // what the closing left queued is handled before the list closes
    main.Exit();
}

TEST_F(Unattended, AnUnpluggedCameraWaitsSavesNothingAndComesBackWithItsSettings) {
    TempFolder folderA("plug-a"), folderB("plug-b");
    MainWindow main(true);
    LiveView* a = OpenSaving(main, kCameraA, folderA);
    LiveView* b = OpenSaving(main, kCameraB, folderB);
    ASSERT_TRUE(a && b);
    SetEdit(a->ActionDialog(), ids::FileName, "door");
    // Its owner asked to hear of trouble; five minutes of it pass at once.
    ScopedMailLog mailLog;
    SetEdit(a->ActionDialog(), ids::EmailAddresses, "owner@example.com");
    SetCheck(a->ActionDialog(), ids::TroubleMail, true);
    std::atomic<std::int32_t> skipped{0};
    const std::int32_t base = ScheduleNow();
    const ULONGLONG started = ::GetTickCount64();
    struct ClockBack {
        ~ClockBack() { SetScheduleClock(nullptr); }
    } clockBack;
    SetScheduleClock(
        [&] { return base + static_cast<std::int32_t>((::GetTickCount64() - started) / 1000) + skipped; });
    BoxWatcher boxes;
    ASSERT_TRUE(PumpUntil([&] { return a->ImagesWritten() >= 1; }, 5000));

    const DWORD unplugged = ::GetTickCount();
    const auto savedB = b->ImagesWritten();
    ASSERT_TRUE(cameras.Unplug(kCameraA));
    ASSERT_TRUE(PumpUntil([&] { return a->CameraLost(); }, 7000));
    PumpMessages(1000);
    EXPECT_TRUE(mailLog.Mails().empty()) << "not before five minutes";
    skipped += 5 * 60;
    ASSERT_TRUE(PumpUntil([&] { return mailLog.Mails().size() == 1; }, 5000));
    EXPECT_NE(mailLog.Mails()[0].subject.find("\"Unattended A\" is in trouble"), std::string::npos);
    EXPECT_NE(mailLog.Mails()[0].note.find("lost"), std::string::npos);
    ASSERT_EQ(mailLog.Mails()[0].attachments.size(), 1u) << "the last good image";
    EXPECT_NE(mailLog.Mails()[0].attachments[0].find("door"), std::string::npos);
    const auto savedWhileLost = a->ImagesWritten();
    HWND host = ::GetDlgItem(a->GetSafeHwnd(), live_view_ids::VideoHost);
    HWND waiting = ::FindWindowExA(host, nullptr, "Static", nullptr);
    ASSERT_NE(waiting, nullptr);
    EXPECT_NE(GetText(waiting).find("Waiting for the camera"), std::string::npos);
    EXPECT_EQ(GetText(a->GetSafeHwnd()), "Live View") << "the window keeps its caption";
    // Ten seconds unplugged, in which nothing may be saved or asked for.
    PumpMessages(10000 - std::min<DWORD>(10000, ::GetTickCount() - unplugged));
    EXPECT_EQ(a->ImagesWritten(), savedWhileLost);
    EXPECT_EQ(a->SavesFailed(), 0u) << "a lost camera is not asked for images";

    ASSERT_TRUE(cameras.Replug(kCameraA));
    const DWORD replugged = ::GetTickCount();
    EXPECT_TRUE(PumpUntil([&] { return a->ImagesWritten() > savedWhileLost; }, 7000));
    EXPECT_LT(::GetTickCount() - replugged, 7000u);
    EXPECT_FALSE(a->CameraLost());
    EXPECT_EQ(::FindWindowExA(host, nullptr, "Static", nullptr), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return mailLog.Mails().size() == 2; }, 5000)) << "one mail when it is back";
    EXPECT_NE(mailLog.Mails()[1].subject.find("works again"), std::string::npos);
    const std::vector<std::string> files = folderA.Files();
    EXPECT_TRUE(std::all_of(files.begin(), files.end(), [](const std::string& name) {
        return name.rfind("door", 0) == 0;
    })) << "the same settings after the rebuild";
    // The other camera saved every second throughout (counted as at least one in two).
    EXPECT_GE(b->ImagesWritten() - savedB, (::GetTickCount() - unplugged) / 2000 - 1);
    EXPECT_TRUE(boxes.Seen().empty());
    const std::string log = NewLogLines();
    EXPECT_NE(log.find("[Unattended A]  camera lost"), std::string::npos) << log;
    EXPECT_NE(log.find("[Unattended A]  camera back"), std::string::npos) << log;
    main.Exit();
}

TEST_F(Unattended, ALostCameraLooksForItselfAtOnceWhenWindowsAnnouncesAVideoDevice) {
    TempFolder folder("arrival");
    MainWindow main(true);
    // The clock of the device-list looks stands still: no timed look comes, as when the next is a
    // minute away.
    SetDeviceLookClock([] { return ULONGLONG{1}; });
    LiveView* a = OpenSaving(main, kCameraA, folder);
    ASSERT_TRUE(a);
    ASSERT_TRUE(PumpUntil([&] { return a->ImagesWritten() >= 1; }, 5000));
    ASSERT_TRUE(cameras.Unplug(kCameraA));
    ASSERT_TRUE(PumpUntil([&] { return a->CameraLost(); }, 7000));
    ASSERT_TRUE(cameras.Replug(kCameraA));
    PumpMessages(3000);
    ASSERT_TRUE(a->CameraLost()) << "found without being announced";
    const auto savedWhileLost = a->ImagesWritten();

    DEV_BROADCAST_DEVICEINTERFACE_A arrival{};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    arrival.dbcc_classguid = KSCATEGORY_VIDEO;
    ::SendMessageA(main.hwnd(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
    EXPECT_TRUE(PumpUntil([&] { return !a->CameraLost(); }, 2000));
    EXPECT_TRUE(PumpUntil([&] { return a->ImagesWritten() > savedWhileLost; }, 5000));
    EXPECT_NE(NewLogLines().find("[Unattended A]  camera back"), std::string::npos);
    main.Exit();
}

// A camera that is listed and starts, then sends nothing (a stalled device), is not back until a
// picture comes: it stays lost, and its looks at the device list go on at the pace they had reached
// rather than every second again after each start.
TEST_F(Unattended, ACameraThatStartsAndSendsNothingStaysLostUntilAPictureComes) {
    TempFolder folder("stalled");
    std::atomic<ULONGLONG> lookingLonger{0}; // outlives the windows that read the clock
    MainWindow main(true);
    SetDeviceLookClock([&] { return ::GetTickCount64() + lookingLonger.load(); });
    LiveView* a = OpenSaving(main, kCameraA, folder);
    ASSERT_TRUE(a);
    ASSERT_TRUE(PumpUntil([&] { return a->ImagesWritten() >= 1; }, 5000));
    ASSERT_TRUE(cameras.SetScene(kCameraA, testcam::kSceneSilent));
    ASSERT_TRUE(PumpUntil([&] { return a->CameraLost(); }, 8000));

    // Lost twenty minutes: the next look comes at once, then a minute later.
    const auto readsBefore = a->DeviceListReads();
    lookingLonger += 20 * 60000;
    PumpMessages(8000);
    EXPECT_TRUE(a->CameraLost());
    EXPECT_EQ(a->DeviceListReads() - readsBefore, 1u)
        << "started once, silent, and not looked for again soon";
    EXPECT_NE(NewLogLines().find("[Unattended A]  camera listed again, but it sent no picture for 5 s"),
              std::string::npos);

    const auto savedWhileLost = a->ImagesWritten();
    ASSERT_TRUE(cameras.SetScene(kCameraA, 0));
    lookingLonger += 60000;
    EXPECT_TRUE(PumpUntil([&] { return a->ImagesWritten() > savedWhileLost; }, 5000));
    EXPECT_NE(NewLogLines().find("[Unattended A]  camera back"), std::string::npos);
    main.Exit();
}

} // namespace
