// Soak run: four test cameras on the real camera timer and clock save, upload and mail every second
// second for minutes while faults come and go: the FTP server stopped and started again (its boxes left
// unanswered for a while), a server that accepts and never answers, a camera unplugged and plugged back,
// a save folder deleted and made again. Prints per camera what was due, written, missed while healthy,
// uploaded and mailed, what the event log says, and the process's resources at start and end; exits
// with 1 when a correctness goal fails.
//
// Usage: soak_bench [length] - minutes (default 10; "0.5" is half a minute), or seconds as "90s".
// Needs LUMETRA_BUILD_DIR (the test camera) and the recording MAPI32.DLL next to the program.
#include <winsock2.h>

#include "BoxWatcher.h"
#include "FtpServer.h"
#include "MailLog.h"
#include "PlatformShare.h"
#include "SessionHarness.h"
#include "SoakSupport.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "framework/EventLog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;
using namespace lumetra::soak;
using namespace std::chrono_literals;
namespace ids = lumetra::cam_action_ids;

namespace {

constexpr char kUser[] = "soakuser";
constexpr char kPassword[] = "soak-pass";
constexpr double kServerLife = 90.0; // the test server stops itself after two minutes: replace it sooner
constexpr long kHandleSlack = 20;    // threads of uploads and mails come and go
constexpr long kGdiSlack = 10;
constexpr double kMemoryGoalMb = 16; // shown, not checked
constexpr char kTranscriptFile[] = "soak-ftp-server.log";

struct Camera {
    std::string name, prefix;
    std::unique_ptr<TempFolder> folder;
    LiveView* session = nullptr;
    double savingFrom = 0, savingTo = 0;
    std::vector<Span> saveDown; // lost or unplugged, its folder missing
    std::vector<Span> ftpDown;  // its server stopped, replaced or silent, its box left open
    bool unplugged = false, lostSeen = false, lostAtEnd = false;
    double lostSince = 0, lostSeconds = 0;
    int losses = 0;
    std::uint64_t imagesWritten = 0, savesFailed = 0;
    std::set<std::int32_t> written, uploaded, mailed; // stamps of its image names
    int sentUnwritten = 0;                            // uploads and mails of a file it never wrote
};

void ScanFolder(Camera& camera) {
    for (const std::string& name : camera.folder->Files())
        if (const auto stamp = StampOf(camera.prefix, name))
            camera.written.insert(*stamp);
}

class Soak {
  public:
    Soak(TestCameras& devices, double seconds, std::string mailLog)
        : devices_(devices), length_(seconds), mailLog_(std::move(mailLog)) {}
    bool Start(MainWindow& main);
    void Run();
    void Finish();
    bool Report();

  private:
    struct Fault {
        double at; // fraction of the run
        std::string what;
        std::function<void()> act;
    };
    std::vector<Fault> Plan();
    void WatchCameras();
    void StopServer();
    void StartServer();
    void KeepBoxes(std::chrono::milliseconds delay);
    void WaitIdle(const Camera* only, DWORD timeoutMs);
    void Note(const std::string& what);
    std::string Describe(const char* what, const Camera& camera, Stretch run) const;
    bool PrintCameras();
    bool PrintResources();

    TestCameras& devices_;
    double length_;
    std::string mailLog_;
    double start_ = 0;
    std::vector<Camera> cameras_ = std::vector<Camera>(4);
    std::vector<std::unique_ptr<ScopedTestCamera>> registered_;
    std::unique_ptr<FtpServer> server_;
    unsigned short ftpPort_ = 0;
    double serverSince_ = 0;
    std::string transcript_; // of every server so far
    std::unique_ptr<BoxWatcher> boxes_;
    std::map<std::string, int> boxCaptions_;
    SOCKET silent_ = INVALID_SOCKET;
    double stoppedAt_ = 0, deletedAt_ = 0, silencedAt_ = 0, repluggedAt_ = 0, backAfter_ = -1;
    std::vector<std::string> timeline_;
    int unknownSent_ = 0; // uploads and mails of no camera's image
    ResourceCounts before_{}, after_{};
    long platformHandles_ = 0;
    std::string eventLog_;
    size_t eventLogStart_ = 0;
};

bool Soak::Start(MainWindow& main) {
    FlushEventLog();
    eventLogStart_ = ReadAll(std::filesystem::path(EventLogPath()).string()).size();
    StartServer();
    KeepBoxes(150ms);
    for (size_t i = 0; i < cameras_.size(); ++i) {
        Camera& camera = cameras_[i];
        camera.name = "Soak Cam " + std::to_string(i + 1);
        camera.prefix = std::string("soak") + static_cast<char>('a' + i);
        camera.folder = std::make_unique<TempFolder>("soak-" + camera.prefix);
        registered_.push_back(std::make_unique<ScopedTestCamera>(devices_, camera.name));
        DeleteCameraKey(camera.name);
        camera.session = registered_.back()->registered() ? main.Open(camera.name) : nullptr;
        if (!camera.session || !camera.session->Graph().running() || !server_->Ready())
            return std::fprintf(stderr, "%s or the FTP server did not start\n", camera.name.c_str()), false;
        camera.session->SetFtpPort(ftpPort_);
        CamActionDialog* action = camera.session->ActionDialog();
        for (const auto& [id, text] : std::initializer_list<std::pair<int, std::string>>{
                 {ids::Directory, camera.folder->path()},
                 {ids::FileName, camera.prefix},
                 {ids::SaveSeconds, "1"},
                 {ids::FtpUrl, "127.0.0.1"},
                 {ids::FtpUser, kUser},
                 {ids::FtpPassword, kPassword},
                 {ids::FtpSeconds, "1"},
                 {ids::EmailSeconds, "1"},
                 {ids::EmailAddresses, "watch@example.com;night@example.com"}})
            SetEdit(action, id, text);
        for (int id : {ids::AppendTime, ids::FtpAuto, ids::EmailAuto, ids::SaveAuto})
            SetCheck(action, id, true);
        // The first camera's server connects back to it for each file, so both ways are soaked.
        SetCheck(action, ids::ActiveFtp, i == 0);
        camera.savingFrom = WallNow();
    }
    start_ = WallNow();
    return true;
}

// Times are fractions of the run; the boxes are left unanswered for a tenth of it (a minute of ten).
std::vector<Soak::Fault> Soak::Plan() {
    Camera& unplugged = cameras_[1];
    Camera& folderless = cameras_[2];
    Camera& silenced = cameras_[3];
    const auto boxDelay = std::chrono::milliseconds(static_cast<long long>(length_ * 100));
    return {
        {0.08, "resources at start",
         [this] {
             WaitIdle(nullptr, 3000);
             PumpWhile([this] { before_ = CurrentResources(); }); // counting takes a second or more
         }},
        {0.15, "FTP server stopped, its boxes left unanswered",
         [this, boxDelay] {
             stoppedAt_ = WallNow();
             KeepBoxes(boxDelay);
             StopServer();
         }},
        {0.23, "FTP server started again on its port", [this] { StartServer(); }},
        {0.28, "boxes answered at once again",
         [this] {
             KeepBoxes(150ms);
             for (Camera& camera : cameras_)
                 camera.ftpDown.push_back({stoppedAt_, WallNow()});
         }},
        {0.33, unplugged.name + " unplugged",
         [&] {
             unplugged.unplugged = true;
             unplugged.lostSince = WallNow();
             devices_.Unplug(unplugged.name);
         }},
        {0.43, unplugged.name + " plugged back",
         [&] {
             devices_.Replug(unplugged.name);
             unplugged.unplugged = false;
             repluggedAt_ = WallNow();
         }},
        {0.48, folderless.name + ": save folder deleted",
         [&] {
             // What is about to go is read first (saves are written on this thread); a file an upload
             // or mail still reads cannot go yet, and the next try reads the folder again.
             PumpUntil(
                 [&] {
                     ScanFolder(folderless);
                     std::error_code inUse;
                     std::filesystem::remove_all(folderless.folder->path(), inUse);
                     return !inUse;
                 },
                 10000);
             deletedAt_ = WallNow();
         }},
        {0.56, folderless.name + ": save folder made again",
         [&] {
             ::CreateDirectoryA(folderless.folder->path().c_str(), nullptr);
             folderless.saveDown.push_back({deletedAt_, WallNow()});
         }},
        {0.62, silenced.name + ": uploads to a server that never answers",
         [&] {
             unsigned short port = 0;
             silent_ = SilentListener(port);
             silencedAt_ = WallNow();
             WaitIdle(&silenced, 40000);
             silenced.session->SetFtpPort(port);
         }},
        {0.72, silenced.name + ": silent server closed, back to the FTP server",
         [&] {
             ::closesocket(silent_); // the connection waiting in its backlog is reset
             WaitIdle(&silenced, 40000);
             silenced.session->SetFtpPort(ftpPort_);
             silenced.ftpDown.push_back({silencedAt_, WallNow()});
         }},
    };
}

void Soak::KeepBoxes(std::chrono::milliseconds delay) {
    if (boxes_)
        for (const SeenBox& box : boxes_->Seen())
            ++boxCaptions_[box.caption];
    boxes_.reset();
    boxes_ = std::make_unique<BoxWatcher>(delay);
}

void Soak::StopServer() {
    PumpWhile([this] {
        transcript_ += server_->Transcript();
        server_.reset();
    });
}

// On the port of the first server, so the sessions need not be told.
void Soak::StartServer() {
    PumpWhile([this] { server_ = std::make_unique<FtpServer>(kUser, kPassword, ftpPort_); });
    ftpPort_ = server_->Port();
    serverSince_ = WallNow();
    if (!server_->Ready())
        Note("the FTP server did not start on port " + std::to_string(ftpPort_));
}

void Soak::WaitIdle(const Camera* only, DWORD timeoutMs) {
    PumpUntil(
        [&] {
            return std::none_of(cameras_.begin(), cameras_.end(), [&](const Camera& camera) {
                return (!only || only == &camera) && camera.session->DeliveryBusy();
            });
        },
        timeoutMs);
}

// A stretch of seconds from the start, with the seconds it has images of.
std::string Soak::Describe(const char* what, const Camera& camera, Stretch run) const {
    const auto at = [this](std::int32_t second) { return std::to_string(std::lround(second - start_)); };
    std::string text = "  " + std::string(what) + ": " + camera.name + ", seconds " + at(run.first) + " to " +
                       at(run.second) + ", images at";
    for (auto stamp = camera.written.lower_bound(run.first); stamp != camera.written.lower_bound(run.second);
         ++stamp)
        text += " " + at(*stamp);
    return text;
}

void Soak::Note(const std::string& what) {
    char line[200];
    std::snprintf(line, sizeof line, "  %7.1f s  %s", WallNow() - start_, what.c_str());
    timeline_.push_back(line);
}

// A camera lost without being unplugged is counted too; its time lost is not held against its saves.
void Soak::WatchCameras() {
    const double now = WallNow();
    for (Camera& camera : cameras_) {
        const bool lost = camera.session->CameraLost();
        if (lost && !camera.lostSeen) {
            camera.lostSeen = true;
            ++camera.losses;
            camera.lostSince = camera.lostSince ? camera.lostSince : now;
        }
        if (!lost && !camera.unplugged && camera.lostSince != 0) {
            camera.saveDown.push_back({camera.lostSince, now});
            camera.lostSeconds += now - camera.lostSince;
            camera.lostSince = 0;
            camera.lostSeen = false;
            if (repluggedAt_ != 0 && &camera == &cameras_[1])
                backAfter_ = now - repluggedAt_;
        }
    }
}

void Soak::Run() {
    std::vector<Fault> plan = Plan();
    size_t next = 0;
    // A step that starts or ends late (a slow machine) moves the later ones with it, so that each fault
    // still lasts as long as planned: an unplug and its replug never come in the same instant.
    double slip = 0;
    while (WallNow() - start_ < length_) {
        PumpMessages(100);
        for (; next < plan.size() && WallNow() - start_ >= plan[next].at * length_ + slip; ++next) {
            Note(plan[next].what);
            plan[next].act();
            slip = std::max(slip, WallNow() - start_ - plan[next].at * length_);
        }
        WatchCameras();
        if (server_ && WallNow() - serverSince_ > kServerLife) {
            const double from = WallNow();
            Note("FTP server replaced (it stops itself after two minutes)");
            StopServer();
            StartServer();
            for (Camera& camera : cameras_)
                camera.ftpDown.push_back({from, WallNow() + 1});
        }
    }
}

void Soak::Finish() {
    for (Camera& camera : cameras_) {
        SetCheck(camera.session->ActionDialog(), ids::SaveAuto, false);
        camera.savingTo = WallNow();
        if (camera.lostSince != 0) {
            camera.saveDown.push_back({camera.lostSince, camera.savingTo});
            camera.lostSeconds += camera.savingTo - camera.lostSince;
        }
    }
    WaitIdle(nullptr, 15000); // an upload that hangs is not waited out
    PumpMessages(500);
    after_ = CurrentResources();
    double lostSeconds = 0;
    for (Camera& camera : cameras_) {
        camera.imagesWritten = camera.session->ImagesWritten();
        camera.savesFailed = camera.session->SavesFailed();
        camera.lostAtEnd = camera.session->CameraLost();
        lostSeconds += camera.lostSeconds + camera.losses;
        ScanFolder(camera);
    }
    // Wine keeps handles for each device-list read while a camera is lost (one a second) and for the
    // graph it is rebuilt with: that share, counted by making the same calls directly.
    const DWORD platformStart = CurrentResources().handles;
    for (int i = 0; i < 10; ++i)
        DirectShowPlatformCycle();
    const double perRead = (static_cast<double>(CurrentResources().handles) - platformStart) / 10;
    platformHandles_ = static_cast<long>(std::ceil(std::max(0.0, perRead) * lostSeconds));
    if (server_)
        StopServer();
    KeepBoxes(150ms);
    FlushEventLog();
    eventLog_ = ReadAll(std::filesystem::path(EventLogPath()).string());
    eventLog_ = eventLog_.substr(std::min(eventLogStart_, eventLog_.size()));
    // Each upload and mail to the camera whose name it carries (an upload arrives under a temporary
    // name, renamed once complete).
    using Sent = std::pair<std::vector<std::string>, std::set<std::int32_t> Camera::*>;
    for (const auto& [names, sent] : std::initializer_list<Sent>{
             {NamesBetween(transcript_, "STOR ", ".part completed=1"), &Camera::uploaded},
             {NamesBetween(ReadAll(mailLog_), "\tpath=\"", "\""), &Camera::mailed}})
        for (const std::string& name : names) {
            auto owner = std::find_if(cameras_.begin(), cameras_.end(), [&](const Camera& camera) {
                return StampOf(camera.prefix, name).has_value();
            });
            if (owner == cameras_.end()) {
                ++unknownSent_;
                continue;
            }
            const std::int32_t stamp = *StampOf(owner->prefix, name);
            ((*owner).*sent).insert(stamp);
            owner->sentUnwritten += owner->written.count(stamp) ? 0 : 1;
        }
}

// One row per camera; true when every correctness goal of the cameras holds.
bool Soak::PrintCameras() {
    std::printf("\n%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "camera", "saves", "written", "on",
                "healthy", "missed", "uploads sent", "mails sent", "sent,", "lost");
    std::printf("%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "", "due", "", "disk", "due", "healthy",
                "/due (all)", "/due (all)", "never", "");
    std::printf("%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "goal", "", "", "=written", "", "0",
                "none stop", "none stop", "written", "");
    bool pass = true;
    std::vector<std::string> problems;
    for (const Camera& camera : cameras_) {
        std::vector<Span> ftpDown = camera.saveDown;
        ftpDown.insert(ftpDown.end(), camera.ftpDown.begin(), camera.ftpDown.end());
        size_t dueHealthy = 0, missed = 0, uploadsDue = 0, uploadsSent = 0, mailsDue = 0, mailsSent = 0;
        const auto deliveries = [&](Stretch run, const std::set<std::int32_t>& sent, const char* what,
                                    size_t& due, size_t& done) {
            due += CountIn(camera.written, run);
            done += CountIn(sent, run);
            if (CountIn(camera.written, run) >= 4 && CountIn(sent, run) == 0)
                problems.push_back(Describe(what, camera, run));
        };
        for (const Stretch& run : HealthyStretches(camera.savingFrom, camera.savingTo, camera.saveDown)) {
            const size_t due = static_cast<size_t>(run.second - run.first) / 2;
            const size_t written = CountIn(camera.written, run);
            dueHealthy += due;
            missed += written < due ? due - written : 0;
            if (written < due)
                problems.push_back(Describe("saves missed", camera, run));
            deliveries(run, camera.mailed, "nothing mailed", mailsDue, mailsSent);
        }
        for (const Stretch& run : HealthyStretches(camera.savingFrom, camera.savingTo, ftpDown))
            deliveries(run, camera.uploaded, "nothing uploaded", uploadsDue, uploadsSent);
        char uploads[32], mails[32];
        std::snprintf(uploads, sizeof uploads, "%zu/%zu (%zu)", uploadsSent, uploadsDue,
                      camera.uploaded.size());
        std::snprintf(mails, sizeof mails, "%zu/%zu (%zu)", mailsSent, mailsDue, camera.mailed.size());
        const bool lostOk =
            &camera == &cameras_[1] ? camera.losses == 1 && !camera.lostAtEnd : camera.losses == 0;
        std::printf("%-10s %5ld %7llu %7zu %7zu %7zu %13s %13s %7d %5d\n", camera.name.c_str(),
                    static_cast<long>((camera.savingTo - camera.savingFrom) / 2),
                    static_cast<unsigned long long>(camera.imagesWritten), camera.written.size(), dueHealthy,
                    missed, uploads, mails, camera.sentUnwritten, camera.losses);
        pass = pass && camera.written.size() == camera.imagesWritten && camera.sentUnwritten == 0 && lostOk;
    }
    std::printf(
        "healthy: the camera was not unplugged or lost and its folder was there (a second of grace at each\n"
        "edge). Uploads are due for the images saved while its server answered and no box was left open;\n"
        "one that ends in the second after its save makes the next one not due, so the share sent is shown,\n"
        "and the goal is that none stops: every such stretch with 4 images or more has one sent.\n"
        "lost: goal 1 for %s (unplugged), 0 for the others.\n",
        cameras_[1].name.c_str());
    for (const std::string& line : problems)
        std::printf("%s\n", line.c_str());
    if (backAfter_ >= 0)
        std::printf("%s back %.1f s after it was plugged back in (goal: within 10 s)\n",
                    cameras_[1].name.c_str(), backAfter_);
    else
        std::printf("%s never came back after it was plugged back in (goal: within 10 s)\n",
                    cameras_[1].name.c_str());
    std::printf("uploads and mails of no camera's image: %d (goal 0)\n", unknownSent_);
    return pass && problems.empty() && backAfter_ >= 0 && backAfter_ <= 10 && unknownSent_ == 0;
}

bool Soak::PrintResources() {
    const long handles = static_cast<long>(after_.handles) - static_cast<long>(before_.handles);
    const long gdi = static_cast<long>(after_.gdiObjects) - static_cast<long>(before_.gdiObjects);
    const double megabytes = 1024.0 * 1024.0;
    std::printf("\n%-15s %9s %9s %9s   goal\n", "process", "start", "end", "growth");
    std::printf(
        "%-15s %9lu %9lu %+9ld   <= %ld (%ld of them Wine's, for the lost camera's device-list reads)\n",
        "handles", before_.handles, after_.handles, handles, kHandleSlack + platformHandles_,
        platformHandles_);
    std::printf("%-15s %9lu %9lu %+9ld   <= %ld\n", "GDI objects", before_.gdiObjects, after_.gdiObjects, gdi,
                kGdiSlack);
    std::printf("%-15s %8.1fM %8.1fM %+8.1fM   <= %.0fM (shown, not checked)\n", "private memory",
                before_.privateBytes / megabytes, after_.privateBytes / megabytes,
                (static_cast<double>(after_.privateBytes) - before_.privateBytes) / megabytes, kMemoryGoalMb);
    return handles <= kHandleSlack + platformHandles_ && gdi <= kGdiSlack;
}

bool Soak::Report() {
    std::printf(
        "Soak: %zu test cameras for %.0f s on the real camera timer; Save, FTP and Email Auto every 1 s;"
        " %s uploads in active mode, the others in passive\nFaults, from the start:\n",
        cameras_.size(), length_, cameras_[0].name.c_str());
    for (const std::string& line : timeline_)
        std::printf("%s\n", line.c_str());
    bool pass = PrintCameras();
    std::printf(
        "\nevent log     lost  back  could not save  works again  FTP failed  mail failed  (saves failed)\n");
    for (const Camera& camera : cameras_) {
        const std::string tag = "[" + camera.name + "]  ";
        std::printf("%-12s %5zu %5zu %15zu %12zu %11zu %12zu  (%llu)\n", camera.name.c_str(),
                    CountOf(eventLog_, tag + "camera lost"), CountOf(eventLog_, tag + "camera back"),
                    CountOf(eventLog_, tag + "could not save"),
                    CountOf(eventLog_, tag + "saving works again"), CountOf(eventLog_, tag + "FTP upload of"),
                    CountOf(eventLog_, tag + "mail of"), static_cast<unsigned long long>(camera.savesFailed));
    }
    std::printf("boxes:");
    for (const auto& [caption, count] : boxCaptions_)
        std::printf(" \"%s\" %d", caption.c_str(), count);
    pass = PrintResources() && pass;
    std::printf("\nsoak: %s\n", pass ? "every goal met" : "FAILED: a goal above was missed");
    if (!pass) {
        // What the FTP server saw of every connection, for finding what an upload was doing.
        std::ofstream(kTranscriptFile, std::ios::binary) << transcript_;
        std::printf("the FTP server's log of the run: %s\n", kTranscriptFile);
    }
    return pass;
}

// "10" minutes, "0.5" minutes, "90s" seconds.
double RunSeconds(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (!(value > 0))
        return 600;
    return *end == 's' || *end == 'S' ? value : value * 60;
}

} // namespace

int main(int argc, char** argv) {
    // Without the recorder every mail would go to the desktop's mail program, a window each.
    if (!RecordingMailProviderLoaded()) {
        std::fprintf(
            stderr,
            "soak_bench mails every saved image and must reach the recording MAPI32.DLL beside it, "
            "not the system's. Run it from the source folder as\n"
            "  WINEPREFIX=$PWD/build/wineprefix WINEDLLOVERRIDES=mapi32=n,b LUMETRA_BUILD_DIR=$PWD/build "
            "xvfb-run -a wine build/bench/soak_bench.exe 1\n"
            "or through CTest: ctest --test-dir build -R soak_1min_tests\n");
        return 2;
    }
    StartProgramLibraries();
    WSADATA winsock;
    ::WSAStartup(MAKEWORD(2, 2), &winsock);
    TestCameras devices;
    if (!devices.loaded()) {
        std::fprintf(stderr, "test camera DLL not found (LUMETRA_BUILD_DIR)\n");
        return 1;
    }
    TempFolder mail("soak-mail");
    ::SetEnvironmentVariableA("LUMETRA_MAPI_LOG", mail.File("mapi.log").c_str());
    Soak soak(devices, argc > 1 ? RunSeconds(argv[1]) : 600, mail.File("mapi.log"));
    bool pass = false;
    {
        MainWindow main(true);
        if (soak.Start(main)) {
            soak.Run();
            soak.Finish();
            pass = soak.Report();
        }
        main.Exit();
    }
    std::fflush(stdout);
    ::WSACleanup();
    return pass ? 0 : 1;
}
