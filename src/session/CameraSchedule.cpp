#include "session/CameraSchedule.h"

#include "app/CameraListDialog.h"
#include "session/camview.h"
#include "settings/ccamaction.h"

#include <vector>

namespace lumetra {

namespace {
SecondsClock scheduleClock = SecondsSince1970;
bool tickRunning = false;

// Signed 32-bit difference, as the schedule's times are.
std::int32_t Elapsed(std::int32_t now, std::int32_t then) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}
} // namespace

void SetScheduleClock(SecondsClock clock) {
    scheduleClock = clock ? std::move(clock) : SecondsClock(SecondsSince1970);
}

std::int32_t ScheduleNow() {
    return scheduleClock();
}

void CALLBACK OnCameraTimer(HWND, UINT, UINT_PTR, DWORD) {
    TickOpenSessions();
}

void TickOpenSessions() {
    if (tickRunning || !theMainDialog)
        return;
    tickRunning = true;
    // A session may close while an earlier one's tick runs a message loop: walk a copy and skip
    // the sessions that have left the set.
    const std::vector<camview*> sessions(theMainDialog->openSessions.begin(),
                                         theMainDialog->openSessions.end());
    for (camview* session : sessions)
        if (theMainDialog && theMainDialog->HasSession(session))
            session->Tick();
    tickRunning = false;
}

void camview::Tick() {
    if (!SaveAutoOn || !actionDialog_)
        return;
    KeepAlive keepAlive(*this);
    const int saveSeconds = actionDialog_->SaveSeconds();
    if (saveSeconds <= 0)
        return;
    tickTime = ScheduleNow();
    if (Elapsed(tickTime, lastSaveTime) <= saveSeconds)
        return;

    // Every step below that can run a message loop (a validation message, an upload's box) may
    // close this session from inside it; the object lives on until the tick returns, but once its
    // window is gone nothing more is done for it.
    const auto closed = [this] { return GetSafeHwnd() == nullptr; };
    std::string bareName;
    const std::string fullPath = actionDialog_->BuildImagePath(bareName);
    if (closed() || fullPath.empty() || !actionDialog_)
        return;
    // A path the slot cannot take is treated like no path: nothing is sent for an image that
    // cannot be written, and the next tick tries again.
    if (!SaveSnapshot(fullPath) || closed())
        return;
    if (owner)
        owner->MirrorImagePath(fullPath);

    if (FtpAutoOn && actionDialog_) {
        const int ftpSeconds = actionDialog_->FtpSeconds();
        if (ftpSeconds > 0) {
            tickTime = ScheduleNow();
            if (Elapsed(tickTime, lastFtpTime) > ftpSeconds) {
                std::string url, path, user, password;
                actionDialog_->GetFtpFields(url, path, user, password);
                WaitForRequestedImage();
                const std::int32_t ftpTime = tickTime;
                UploadByFtp(fullPath, bareName, url, path, user, password);
                if (closed())
                    return;
                lastFtpTime = ftpTime;
            }
        }
    }
    if (EmailAutoOn && actionDialog_) {
        const int emailSeconds = actionDialog_->EmailSeconds();
        if (emailSeconds > 0) {
            mailTickTime = ScheduleNow();
            if (Elapsed(mailTickTime, lastMailTime) > emailSeconds) {
                WaitForRequestedImage();
                const std::int32_t mailTime = mailTickTime;
                MailLastSavedImage();
                if (closed())
                    return;
                lastMailTime = mailTime;
            }
        }
    }
    lastSaveTime = tickTime;
}

} // namespace lumetra
