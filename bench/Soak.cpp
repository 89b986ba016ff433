#include "Soak.h"

#include "MailLog.h"
#include "PlatformShare.h"
#include "WindowDriver.h"
#include "framework/EventLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

namespace lumetra::soak {

using namespace lumetra::test;
using namespace std::chrono_literals;
namespace ids = lumetra::cam_action_ids;

namespace {
constexpr char kUser[] = "soakuser";
constexpr char kPassword[] = "soak-pass";
constexpr double kServerLife = 90.0; // the test server stops itself after two minutes: replace it sooner
constexpr double kSampleSeconds = 60;
constexpr double kMemoryReadSeconds = 5;
constexpr double kLongRunSeconds = 45 * 60; // from here the unplugged camera stays away half an hour
} // namespace

void ScanFolder(Camera& camera) {
    for (const std::string& name : camera.folder->Files())
        if (const auto stamp = StampOf(camera.prefix, name))
            camera.written.insert(*stamp);
}

Soak::Soak(TestCameras& devices, const Options& options, std::string mailLog)
    : devices_(devices), length_(options.seconds), options_(options),
      warmup_(options.warmupSeconds.value_or(std::min(300.0, options.seconds / 4))),
      mailLog_(std::move(mailLog)) {
    longUnplug_ = options.unpluggedSeconds || length_ >= kLongRunSeconds;
    unplugFor_ = options.unpluggedSeconds.value_or(longUnplug_ ? 30 * 60 : 0.10 * length_);
    // A long absence starts early enough to leave minutes after it for the return to be seen.
    unplugAt_ =
        longUnplug_ ? std::clamp(length_ - unplugFor_ - 300, 0.10 * length_, 0.33 * length_) : 0.33 * length_;
}

bool Soak::Start(MainWindow& main) {
    std::ofstream(kTranscriptFile, std::ios::binary | std::ios::trunc);
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

void Soak::KeepBoxes(std::chrono::milliseconds delay) {
    if (boxes_)
        for (const SeenBox& box : boxes_->Seen())
            ++boxCaptions_[box.caption];
    boxes_.reset();
    boxes_ = std::make_unique<BoxWatcher>(delay);
}

void Soak::StopServer() {
    PumpWhile([this] {
        std::ofstream(kTranscriptFile, std::ios::binary | std::ios::app) << server_->Transcript();
        server_.reset();
    });
}

// On the port of the first server, so the sessions need not be told.
void Soak::StartServer() {
    PumpWhile([this] { server_ = std::make_unique<FtpServer>(kUser, kPassword, ftpPort_); });
    ftpPort_ = server_->Port();
    serverSince_ = WallNow();
    ++serversStarted_;
    ++serversSinceSample_;
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
        lostSinceSample_ = lostSinceSample_ || lost || camera.lostSince != 0;
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
            ++backSinceSample_;
            if (repluggedAt_ != 0 && &camera == &cameras_[1]) {
                backAfter_.push_back(now - repluggedAt_);
                repluggedAt_ = 0;
            }
        }
    }
}

// The counts first (taken while the windows run), then what happened since the sample before.
void Soak::TakeSample() {
    Sample sample;
    sample.counts = CountResources();
    sample.counts.privateBytes = std::min(sample.counts.privateBytes, lowestPrivateBytes_);
    lowestPrivateBytes_ = SIZE_MAX;
    sample.at = WallNow() - start_;
    std::uint64_t reads = 0;
    for (const Camera& camera : cameras_)
        reads += camera.session->DeviceListReads();
    sample.deviceListReads = reads - readsBefore_;
    readsBefore_ = reads;
    sample.cameraLost = !samples_.empty() && (lostSinceSample_ || sample.deviceListReads > 0);
    sample.camerasBack = backSinceSample_;
    sample.serversStarted = std::exchange(serversSinceSample_, 0);
    samples_.push_back(sample);
    lostSinceSample_ = std::any_of(cameras_.begin(), cameras_.end(), [](const Camera& camera) {
        return camera.session->CameraLost() || camera.lostSince != 0;
    });
    backSinceSample_ = 0;
}

void Soak::Run() {
    std::vector<Fault> plan = Plan();
    size_t next = 0;
    // A step that starts or ends late (a slow machine) moves the later ones with it, so that each fault
    // still lasts as long as planned: an unplug and its replug never come in the same instant.
    double slip = 0;
    while (WallNow() - start_ < length_) {
        if (WallNow() - start_ >= nextSampleAt_) {
            WatchCameras();
            TakeSample();
            // A box's message loop or a long fault step may have held the loop past a minute.
            while (nextSampleAt_ <= WallNow() - start_)
                nextSampleAt_ += kSampleSeconds;
        }
        if (WallNow() - start_ >= nextMemoryReadAt_) {
            lowestPrivateBytes_ = std::min(lowestPrivateBytes_, PrivateBytes());
            nextMemoryReadAt_ = WallNow() - start_ + kMemoryReadSeconds;
        }
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
    WatchCameras();
    TakeSample();
    double lostSeconds = 0;
    for (Camera& camera : cameras_) {
        camera.imagesWritten = camera.session->ImagesWritten();
        camera.savesFailed = camera.session->SavesFailed();
        camera.lostAtEnd = camera.session->CameraLost();
        lostSeconds += camera.lostSeconds + camera.losses;
        ScanFolder(camera);
    }
    // Wine keeps handles for each device-list read while a camera is lost (one a second) and for the
    // graph it is rebuilt with, and one for each test server started: that share, counted by making
    // the same calls directly.
    const auto handlesPer = [](int times, void (*call)()) {
        const DWORD start = CurrentResources().handles;
        for (int i = 0; i < times; ++i)
            call();
        return std::max(0.0, (static_cast<double>(CurrentResources().handles) - start) / times);
    };
    const double perRead = handlesPer(10, DirectShowPlatformCycle);
    const double perServer = serversStarted_ > serversStartedBefore_ ? handlesPer(3, HostProgramRun) : 0;
    platformHandles_ = static_cast<long>(
        std::ceil(perRead * lostSeconds + perServer * (serversStarted_ - serversStartedBefore_)));
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
             {NamesBetween(ReadAll(kTranscriptFile), "STOR ", ".part completed=1"), &Camera::uploaded},
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

void Soak::ReplayBareLoop() {
    // The lost camera's reads listed every device but itself.
    if (unplugs_ > 0)
        devices_.Unplug(cameras_[1].name);
    bare_ = ReplayWineCalls(samples_);
    if (unplugs_ > 0)
        devices_.Replug(cameras_[1].name);
}

} // namespace lumetra::soak
