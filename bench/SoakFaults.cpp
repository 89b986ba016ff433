#include "Soak.h"

#include "WindowDriver.h"

#include <filesystem>

namespace lumetra::soak {

using namespace lumetra::test;
using namespace std::chrono_literals;

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

} // namespace lumetra::soak
