#pragma once
// What happens to a camera's saved image once it is written: its path published to the HTTP
// service, and its upload and mail, one of each in flight at a time. It keeps the paths last sent
// (retention keeps them) and the schedule's times of the last upload and mail, and logs how each
// ended: every one of the user's, the schedule's once for a run of failures and once when they work
// again.

#include "delivery/Delivery.h"
#include "delivery/SmtpMailer.h"
#include "session/SessionHost.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

// How an upload or a mail ended, told on the user-interface thread once it is logged.
struct DeliveryEnd {
    enum class Kind { Upload, Mail } kind;
    bool automatic = false; // the schedule's (or a mail about the camera), not the user's
    JobOutcome outcome;
};

class ImageDelivery {
  public:
    using Ended = std::function<void(const DeliveryEnd&)>;

    // `cameraName` names the log lines and must outlive the delivery; `host` (may be null) mirrors.
    // `ended` is told last, and may close the session.
    ImageDelivery(const std::string& cameraName, SessionHost* host, Ended ended = nullptr);

    void Mirror(const std::string& path);
    // scheduledAt: the schedule's tick the upload or mail counts at once done (none for the user's).
    // Errors of an upload are shown in boxes owned by `owner`, which may close while one is open.
    void Upload(HWND owner, const UploadRequest& request, std::optional<std::int32_t> scheduledAt);
    // Through `server`, or the mail program when there is none. `automatic`: a mail the user did
    // not ask for (the schedule's have a scheduledAt). Returns false, sending nothing, while the
    // camera's previous mail is on its way.
    bool Mail(const MailRequest& request, const std::optional<SmtpSettings>& server,
              std::optional<std::int32_t> scheduledAt, bool automatic = false);

    // The schedule's upload or mail is due at `now` with an interval of `seconds` and none busy.
    bool UploadDue(int seconds, std::int32_t now) const;
    bool MailDue(int seconds, std::int32_t now) const;
    // An upload or a mail runs, or an upload's box is open.
    bool Busy() const { return uploader_->Busy() || mailer_->Busy(); }

    // The program uploads to port 21; tests point it at a server of their own.
    void UseFtpPort(INTERNET_PORT port);
    // The images last published, uploaded and mailed.
    std::vector<std::string> PathsInUse() const;

  private:
    void LogOutcome(bool& failing, bool automatic, const std::string& what, const std::string& failure);

    const std::string& cameraName_;
    SessionHost* host_;
    Ended ended_;
    std::unique_ptr<Uploader> uploader_;
    std::unique_ptr<Mailer> mailer_;
    std::string lastMirroredPath_;
    std::string lastUploadPath_;
    std::string lastMailPath_;
    // Schedule times, whole seconds of the schedule's clock; 0 means never.
    std::int32_t lastUploadTime_ = 0;
    std::int32_t lastMailTime_ = 0;
    bool uploadsFailing_ = false;
    bool mailsFailing_ = false;
};

} // namespace lumetra
