#pragma once
// The soak run of soak_bench: four test cameras saving, uploading and mailing on the real camera
// timer while faults come and go (SoakFaults.cpp), watched and counted (Soak.cpp), the process's
// resources sampled every minute (SoakResources.cpp) and all reported against their goals
// (SoakReport.cpp).

#include <winsock2.h>

#include "BoxWatcher.h"
#include "FtpServer.h"
#include "ProcessResources.h"
#include "SessionHarness.h"
#include "SoakResources.h"
#include "SoakSupport.h"
#include "TestCameras.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumetra::soak {

using test::MainWindow;
using test::ResourceCounts;
using test::ScopedTestCamera;
using test::TempFolder;
using test::TestCameras;

// What goes wrong during the run: the mix of every kind, none, or one kind again and again.
enum class Faults { Mixed, None, FtpDown, FtpSilent, CameraLost, FolderDeleted, BoxesOpen, MailFailing };

struct Options {
    double seconds = 600;
    Faults faults = Faults::Mixed;
    std::string only; // the name of the one kind
    std::optional<double> warmupSeconds;
    std::optional<double> unpluggedSeconds; // how long the mixed plan's camera stays unplugged
};

struct Camera {
    std::string name, prefix;
    std::unique_ptr<TempFolder> folder;
    LiveView* session = nullptr;
    double savingFrom = 0, savingTo = 0;
    std::vector<Span> saveDown; // lost or unplugged, its folder missing
    std::vector<Span> ftpDown;  // its server stopped, replaced or silent, its box left open
    std::vector<Span> mailDown; // its mail failing
    bool unplugged = false, lostSeen = false, lostAtEnd = false;
    double lostSince = 0, lostSeconds = 0;
    int losses = 0;
    std::uint64_t imagesWritten = 0, savesFailed = 0;
    std::set<std::int32_t> written, uploaded, mailed; // stamps of its image names
    int sentUnwritten = 0;                            // uploads and mails of a file it never wrote
};

// The images of its prefix in its folder, added to those it has written.
void ScanFolder(Camera& camera);

// Where each FTP server's log is added as it stops: a server logs about 10 KB a second under the soak's
// uploads, which held in memory would be counted as the sessions' growth. Kept when the soak fails.
constexpr char kTranscriptFile[] = "soak-ftp-server.log";

class Soak {
  public:
    Soak(TestCameras& devices, const Options& options, std::string mailLog);
    bool Start(MainWindow& main);
    void Run();
    void Finish();
    // After the windows have gone: the Wine calls of the lost cameras again, alone.
    void ReplayBareLoop();
    bool Report();

  private:
    struct Fault {
        double at; // fraction of the run
        std::string what;
        std::function<void()> act;
    };
    // One kind of fault repeated: on for `faultFor` seconds of every `period`.
    struct Cycle {
        double period, faultFor;
        std::string begins, ends;
        std::function<void()> begin, end;
    };
    std::vector<Fault> Plan();
    std::vector<Fault> MixedPlan();
    std::vector<Fault> RepeatedPlan(const Cycle& cycle);
    Cycle CycleOf(Faults kind);
    void MeasureStart();
    void Unplug();
    void Replug();
    void DeleteFolder();
    void MakeFolder();
    void Silence();
    void Unsilence();
    void OpenBoxes(std::chrono::milliseconds hold);
    void AnswerBoxes();
    void FailMail();
    void MendMail();
    void TakeSample();
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
    Options options_;
    double warmup_;
    // The mixed plan's unplugged camera, in seconds from the start; a long absence is looked for less
    // often, so its return has a minute to be seen rather than 10 s.
    double unplugAt_, unplugFor_;
    bool longUnplug_;
    std::string mailLog_;
    double start_ = 0;
    std::vector<Camera> cameras_ = std::vector<Camera>(4);
    std::vector<std::unique_ptr<ScopedTestCamera>> registered_;
    std::unique_ptr<test::FtpServer> server_;
    unsigned short ftpPort_ = 0;
    double serverSince_ = 0;
    std::unique_ptr<test::BoxWatcher> boxes_;
    std::map<std::string, int> boxCaptions_;
    SOCKET silent_ = INVALID_SOCKET;
    double stoppedAt_ = 0, deletedAt_ = 0, silencedAt_ = 0, repluggedAt_ = 0;
    double boxesFrom_ = 0, mailFailingFrom_ = 0;
    int unplugs_ = 0;
    std::vector<double> backAfter_; // seconds from each replug until the camera was back
    std::vector<std::string> timeline_;
    int unknownSent_ = 0; // uploads and mails of no camera's image
    ResourceCounts before_{}, after_{};
    long platformHandles_ = 0;
    // Test FTP servers started: in all, when the start was counted, and since the sample before.
    int serversStarted_ = 0, serversStartedBefore_ = 0, serversSinceSample_ = 0;
    std::vector<Sample> samples_, bare_;
    double nextSampleAt_ = 0;
    bool lostSinceSample_ = false;
    int backSinceSample_ = 0;
    std::uint64_t readsBefore_ = 0;
    // Deliveries in flight move private memory by megabytes from one moment to the next: a minute's
    // sample takes the lowest of quick reads through the minute, which grows only with what stays.
    SIZE_T lowestPrivateBytes_ = SIZE_MAX;
    double nextMemoryReadAt_ = 0;
    std::string eventLog_;
    size_t eventLogStart_ = 0;
};

} // namespace lumetra::soak
