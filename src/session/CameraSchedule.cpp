#include "session/CameraSchedule.h"

#include "delivery/SaveTarget.h"
#include "session/LiveView.h"
#include "settings/CamActionDialog.h"

#include <vector>

namespace lumetra {

namespace {
// Seconds of a clock that only moves forward, never 0: a clock set back (by hand or by a time
// server) must not stop the schedule. Its seconds turn when the wall clock's did at the first
// reading, so the schedule's whole seconds match the stamps in the image names, which keep the
// wall time.
std::int32_t MonotonicSeconds() {
    static const ULONGLONG offsetMs = [] {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        const ULONGLONG wallMs =
            ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;
        return (wallMs % 1000 + 1000 - ::GetTickCount64() % 1000) % 1000 + 1000;
    }();
    return static_cast<std::int32_t>((::GetTickCount64() + offsetMs) / 1000);
}

SecondsClock scheduleClock = MonotonicSeconds;

// Signed 32-bit difference, as the schedule's times are.
std::int32_t Elapsed(std::int32_t now, std::int32_t then) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}
} // namespace

bool IsDue(std::int32_t last, int interval, std::int32_t now) {
    return last == 0 || Elapsed(now, last) >= interval;
}

void SetScheduleClock(SecondsClock clock) {
    scheduleClock = clock ? std::move(clock) : SecondsClock(MonotonicSeconds);
}

std::int32_t ScheduleNow() {
    return scheduleClock();
}

void TickOpenSessions(SessionHost& host) {
    // A session may close while another one's tick runs a message loop: walk a copy and skip the
    // sessions that have left the set. A box inside one session's tick holds back only that session.
    for (LiveView* session : host.OpenSessions())
        if (host.HasSession(session))
            session->Tick();
}

void TellDeviceArrived(SessionHost& host) {
    for (LiveView* session : host.OpenSessions())
        session->DeviceArrived();
}

void LiveView::Tick() {
    KeepAlive keepAlive(*this);
    watcher_.Watch(cameraName_, cameraIndex_, videoHost_);
    AskForMotionFrame();
    WatchForTrouble();
    if (retention_ && actionDialog_)
        retention_->Tick(actionDialog_->Retention());
    // A lost camera saves nothing: no box per tick, no black or stale image.
    if (!SwitchOn(SessionSwitch::SaveAuto) || !actionDialog_ || watcher_.Lost())
        return;
    const int saveSeconds = actionDialog_->SaveSeconds();
    if (saveSeconds <= 0 || !IsDue(lastSaveTime_, saveSeconds, ScheduleNow()))
        return;

    const auto saved = SaveAutomatically([&](std::int32_t now, AfterSaving& afterSaving) {
        // A save made from a box's message loop meanwhile makes this one not due any more.
        if (!IsDue(lastSaveTime_, saveSeconds, now))
            return false;
        afterSaving.retryAt = now - saveSeconds + 1; // a failed save is due again in the next second
        return true;
    });
    if (saved)
        lastSaveTime_ = *saved;
}

std::optional<std::int32_t> LiveView::SaveAutomatically(const AutomaticSaveCheck& stillWanted) {
    // Building the path can show a validation box, whose message loop ticks the sessions again
    // (this one included: it keeps saving with the values it has) and may close this one. Once the
    // window is gone nothing more is done.
    KeepAlive keepAlive(*this);
    std::string refusal;
    const std::optional<ImagePath> next = actionDialog_->PathForAutomaticSave(refusal);
    if (!GetSafeHwnd() || !actionDialog_ || watcher_.Lost())
        return std::nullopt;
    if (!next) {
        SaveRefused(refusal);
        return std::nullopt;
    }
    const std::string& fullPath = next->fullPath;
    const std::string& bareName = next->bareName;
    AfterSaving afterSaving;
    afterSaving.mirror = true;
    afterSaving.tickTime = ScheduleNow();
    if (!stillWanted(afterSaving.tickTime, afterSaving))
        return std::nullopt;
    AddAutomaticDelivery(afterSaving, fullPath, bareName);
    const std::int32_t savedAt = afterSaving.tickTime;
    // A path the slot cannot take is treated like no path, and the next try may work.
    if (!SaveSnapshot(fullPath, std::move(afterSaving))) {
        SaveRefused(PathTooLongReason);
        return std::nullopt;
    }
    return savedAt;
}

void LiveView::WatchForTrouble() {
    using Trouble = TroubleWatcher::Trouble;
    if (!actionDialog_)
        return;
    const Trouble now = watcher_.Lost()       ? Trouble::CameraLost
                        : failureRun_.ongoing ? Trouble::SavesFailing
                                              : Trouble::None;
    const std::int32_t at = ScheduleNow();
    const std::optional<TroubleWatcher::Notice> notice = trouble_.Look(now, at);
    if (!notice || !actionDialog_->TroubleMailOn() || actionDialog_->EmailAddresses().empty())
        return;
    const TroubleFacts facts{cameraName_, actionDialog_->EmailAddresses(), history_.lastWrittenPath,
                             failureRun_.reason, at - notice->since};
    if (!delivery_.Mail(ComposeTroubleMail(*notice, facts), MailServer(), std::nullopt, true))
        trouble_.Unsent(*notice);
}

void LiveView::AddAutomaticDelivery(AfterSaving& afterSaving, const std::string& fullPath,
                                    const std::string& bareName) {
    const std::int32_t tickTime = afterSaving.tickTime;
    // An upload or mail still running, or an upload's box still open, skips this one quietly.
    if (SwitchOn(SessionSwitch::FtpAuto) && delivery_.UploadDue(actionDialog_->FtpSeconds(), tickTime)) {
        afterSaving.upload = actionDialog_->FtpRequest(fullPath, bareName);
    }
    if (SwitchOn(SessionSwitch::EmailAuto) && delivery_.MailDue(actionDialog_->EmailSeconds(), tickTime))
        afterSaving.mail = MailRequest{actionDialog_->EmailAddresses(), fullPath, bareName, {}, {}};
}

} // namespace lumetra
