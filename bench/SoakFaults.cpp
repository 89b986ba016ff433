#include "Soak.h"

#include "WindowDriver.h"

#include <algorithm>
#include <filesystem>

namespace lumetra::soak {

using namespace lumetra::test;
using namespace std::chrono_literals;
namespace ids = lumetra::cam_action_ids;

namespace {
constexpr char kMissingFtpFolder[] = "no-such-folder";
} // namespace

std::vector<Soak::Fault> Soak::Plan() {
    std::vector<Fault> plan;
    if (options_.faults == Faults::Mixed)
        plan = MixedPlan();
    else if (options_.faults == Faults::None)
        plan = {{0.08, "resources at start", [this] { MeasureStart(); }}};
    else
        plan = RepeatedPlan(CycleOf(options_.faults));
    std::stable_sort(plan.begin(), plan.end(), [](const Fault& a, const Fault& b) { return a.at < b.at; });
    return plan;
}

// Times are fractions of the run; the boxes are left unanswered for a tenth of it (a minute of ten).
std::vector<Soak::Fault> Soak::MixedPlan() {
    const std::string& unplugged = cameras_[1].name;
    const std::string& folderless = cameras_[2].name;
    const std::string& silenced = cameras_[3].name;
    const auto boxDelay = std::chrono::milliseconds(static_cast<long long>(length_ * 100));
    return {
        {0.08, "resources at start", [this] { MeasureStart(); }},
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
        {unplugAt_ / length_, unplugged + " unplugged", [this] { Unplug(); }},
        {(unplugAt_ + unplugFor_) / length_, unplugged + " plugged back", [this] { Replug(); }},
        {0.48, folderless + ": save folder deleted", [this] { DeleteFolder(); }},
        {0.56, folderless + ": save folder made again", [this] { MakeFolder(); }},
        {0.62, silenced + ": uploads to a server that never answers", [this] { Silence(); }},
        {0.72, silenced + ": silent server closed, back to the FTP server", [this] { Unsilence(); }},
    };
}

// The fault from a tenth of the run on, each time ended at least 15 s before the run ends.
std::vector<Soak::Fault> Soak::RepeatedPlan(const Cycle& cycle) {
    std::vector<Fault> plan{{0.08, "resources at start", [this] { MeasureStart(); }}};
    for (double at = 0.10 * length_; at + cycle.faultFor <= length_ - 15; at += cycle.period) {
        plan.push_back({at / length_, cycle.begins, cycle.begin});
        plan.push_back({(at + cycle.faultFor) / length_, cycle.ends, cycle.end});
    }
    return plan;
}

Soak::Cycle Soak::CycleOf(Faults kind) {
    switch (kind) {
    case Faults::FtpDown:
        return {60,
                30,
                "FTP server stopped",
                "FTP server started again on its port",
                [this] {
                    stoppedAt_ = WallNow();
                    StopServer();
                },
                [this] {
                    StartServer();
                    for (Camera& camera : cameras_)
                        camera.ftpDown.push_back({stoppedAt_, WallNow() + 1});
                }};
    case Faults::FtpSilent:
        // Wine's FTP client takes about 60 s to give up on a server that never speaks.
        return {120,
                75,
                cameras_[3].name + ": uploads to a server that never answers",
                cameras_[3].name + ": silent server closed, back to the FTP server",
                [this] { Silence(); },
                [this] { Unsilence(); }};
    case Faults::CameraLost:
        return {90,
                30,
                cameras_[1].name + " unplugged",
                cameras_[1].name + " plugged back",
                [this] { Unplug(); },
                [this] { Replug(); }};
    case Faults::FolderDeleted:
        return {60,
                30,
                cameras_[2].name + ": save folder deleted",
                cameras_[2].name + ": save folder made again",
                [this] { DeleteFolder(); },
                [this] { MakeFolder(); }};
    case Faults::BoxesOpen:
        return {60,
                30,
                "every camera: an upload asked for fails, its box left open",
                "boxes answered",
                [this] { OpenBoxes(30s); },
                [this] { AnswerBoxes(); }};
    case Faults::MailFailing:
    default:
        return {
            60, 30, "every mail fails", "mail works again", [this] { FailMail(); }, [this] { MendMail(); }};
    }
}

void Soak::MeasureStart() {
    WaitIdle(nullptr, 3000);
    PumpWhile([this] { before_ = CurrentResources(); }); // counting takes a second or more
    serversStartedBefore_ = serversStarted_;
}

void Soak::Unplug() {
    Camera& unplugged = cameras_[1];
    unplugged.unplugged = true;
    unplugged.lostSince = WallNow();
    devices_.Unplug(unplugged.name);
    ++unplugs_;
}

void Soak::Replug() {
    Camera& unplugged = cameras_[1];
    devices_.Replug(unplugged.name);
    unplugged.unplugged = false;
    repluggedAt_ = WallNow();
}

void Soak::DeleteFolder() {
    Camera& folderless = cameras_[2];
    // What is about to go is read first (saves are written on this thread); a file an upload or mail
    // still reads cannot go yet, and the next try reads the folder again.
    PumpUntil(
        [&] {
            ScanFolder(folderless);
            std::error_code inUse;
            std::filesystem::remove_all(folderless.folder->path(), inUse);
            return !inUse;
        },
        10000);
    deletedAt_ = WallNow();
}

void Soak::MakeFolder() {
    Camera& folderless = cameras_[2];
    ::CreateDirectoryA(folderless.folder->path().c_str(), nullptr);
    folderless.saveDown.push_back({deletedAt_, WallNow()});
}

void Soak::Silence() {
    Camera& silenced = cameras_[3];
    unsigned short port = 0;
    silent_ = SilentListener(port);
    silencedAt_ = WallNow();
    WaitIdle(&silenced, 40000);
    silenced.session->SetFtpPort(port);
}

void Soak::Unsilence() {
    Camera& silenced = cameras_[3];
    ::closesocket(silent_); // the connection waiting in its backlog is reset
    WaitIdle(&silenced, 40000);
    silenced.session->SetFtpPort(ftpPort_);
    silenced.ftpDown.push_back({silencedAt_, WallNow()});
}

// Each camera's user asks for an upload to a folder the server does not have and walks away from its
// box; meanwhile the camera's automatic uploads wait. The boxes' own message loops run the windows.
void Soak::OpenBoxes(std::chrono::milliseconds hold) {
    boxesFrom_ = WallNow();
    KeepBoxes(hold);
    for (Camera& camera : cameras_) {
        WaitIdle(&camera, 5000); // a press during an upload would raise the "Duplicate" box instead
        CamActionDialog* action = camera.session->ActionDialog();
        SetEdit(action, ids::FtpPath, kMissingFtpFolder);
        PressButton(action, ids::FtpLastImage);
        SetEdit(action, ids::FtpPath, "");
    }
}

void Soak::AnswerBoxes() {
    KeepBoxes(150ms);
    WaitIdle(nullptr, 5000);
    for (Camera& camera : cameras_)
        camera.ftpDown.push_back({boxesFrom_, WallNow() + 1});
}

// The recording mail provider refuses every message while LUMETRA_MAPI_FAIL says so; it reads the
// variable at each call.
void Soak::FailMail() {
    mailFailingFrom_ = WallNow();
    ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", "send");
}

void Soak::MendMail() {
    ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", nullptr);
    for (Camera& camera : cameras_)
        camera.mailDown.push_back({mailFailingFrom_, WallNow() + 1});
}

} // namespace lumetra::soak
