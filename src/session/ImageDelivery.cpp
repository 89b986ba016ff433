#include "session/ImageDelivery.h"

#include "delivery/FtpUploader.h"
#include "delivery/MapiMailer.h"
#include "framework/EventLog.h"
#include "session/CameraSchedule.h"

namespace lumetra {

ImageDelivery::ImageDelivery(const std::string& cameraName, SessionHost* host, Ended ended)
    : cameraName_(cameraName), host_(host), ended_(std::move(ended)),
      uploader_(std::make_unique<FtpUploader>()), mailer_(std::make_unique<SimpleMapiMailer>()) {}

void ImageDelivery::Mirror(const std::string& path) {
    if (!host_)
        return;
    host_->MirrorImagePath(path);
    lastMirroredPath_ = path;
}

void ImageDelivery::Upload(HWND owner, const UploadRequest& request,
                           std::optional<std::int32_t> scheduledAt) {
    lastUploadPath_ = request.localPath;
    uploader_->Upload(owner, request, scheduledAt.has_value(),
                      [this, scheduledAt, request](const JobOutcome& outcome) {
                          // Runs before the upload's box, while the delivery is certainly there. The
                          // upload counts at its tick, as if it had taken no time.
                          if (scheduledAt)
                              lastUploadTime_ = *scheduledAt;
                          LogOutcome(uploadsFailing_, scheduledAt.has_value(),
                                     "FTP upload of " + request.remoteName, outcome.failure);
                          if (const Ended ended = ended_)
                              ended(DeliveryEnd{DeliveryEnd::Kind::Upload, scheduledAt.has_value(), outcome});
                      });
}

bool ImageDelivery::Mail(const MailRequest& request, const std::optional<SmtpSettings>& server,
                         std::optional<std::int32_t> scheduledAt, bool automatic) {
    automatic = automatic || scheduledAt.has_value();
    if (mailer_->Busy()) {
        if (!automatic)
            LogEvent(cameraName_,
                     "mail of " + request.imageName + " not sent: the previous mail is still being sent");
        return false;
    }
    // The camera's choice as it stands now: a setting changed meanwhile counts from this mail.
    if (server)
        mailer_ = std::make_unique<SmtpMailer>(*server);
    else
        mailer_ = std::make_unique<SimpleMapiMailer>();
    lastMailPath_ = request.imagePath;
    return mailer_->Send(request, [this, scheduledAt, automatic, request](const JobOutcome& outcome) {
        if (scheduledAt)
            lastMailTime_ = *scheduledAt;
        LogOutcome(mailsFailing_, automatic, "mail of " + request.Subject(), outcome.failure);
        if (const Ended ended = ended_) // a copy: the session may close inside it
            ended(DeliveryEnd{DeliveryEnd::Kind::Mail, automatic, outcome});
    });
}

bool ImageDelivery::UploadDue(int seconds, std::int32_t now) const {
    return !uploader_->Busy() && seconds > 0 && IsDue(lastUploadTime_, seconds, now);
}

bool ImageDelivery::MailDue(int seconds, std::int32_t now) const {
    return !mailer_->Busy() && seconds > 0 && IsDue(lastMailTime_, seconds, now);
}

void ImageDelivery::UseFtpPort(INTERNET_PORT port) {
    if (!uploader_->Busy())
        uploader_ = std::make_unique<FtpUploader>(port);
}

std::vector<std::string> ImageDelivery::PathsInUse() const {
    return {lastMirroredPath_, lastUploadPath_, lastMailPath_};
}

void ImageDelivery::LogOutcome(bool& failing, bool automatic, const std::string& what,
                               const std::string& failure) {
    // A server down for a day would fill the log a line a second.
    if (!failure.empty() && (!automatic || !failing))
        LogEvent(cameraName_, what + " failed: " + failure);
    else if (failure.empty() && failing && automatic)
        LogEvent(cameraName_, what + " worked again");
    if (automatic || failure.empty())
        failing = !failure.empty();
}

} // namespace lumetra
