#pragma once
// Mails a camera's image straight to an SMTP server (a provider's submission port, a home server),
// without any mail client on the machine. Passwords travel only inside TLS, or to a server on
// this machine itself.

#include "delivery/BackgroundJob.h"
#include "delivery/Delivery.h"

#include <windows.h>

#include <string>

namespace lumetra {

enum class SmtpSecurity {
    StartTls,     // plain connection, switched to TLS before anything else (port 587)
    TlsOnConnect, // TLS from the first byte (port 465)
    None,         // no TLS at all
};

struct SmtpSettings {
    std::string server;
    int port = 587;
    SmtpSecurity security = SmtpSecurity::StartTls;
    std::string user; // empty: no login
    std::string password;
    std::string sender;
    // SHA-256 of a server certificate no known authority vouches for, trusted by the user
    // ("AB:CD:...", as JobOutcome::untrustedCertificate gave it).
    std::string trustedFingerprint;
    DWORD timeoutMs = 30000; // for each wait on the server
};

// One mail, sent on the calling thread; `stop` ends it early (the program is ending). On failure
// the outcome's failure holds the server's own words or the reason, and untrustedCertificate the
// fingerprint of a certificate refused only for being unknown.
JobOutcome SendSmtpMail(const SmtpSettings& settings, const MailRequest& request, JobStop& stop);

// One mail at a time, on a thread of its own.
class SmtpMailer : public Mailer {
  public:
    explicit SmtpMailer(SmtpSettings settings) : settings_(std::move(settings)) {}
    bool Send(const MailRequest& request, BackgroundJob::Finished finished) override;
    bool Busy() const override { return job_.Running(); }

  private:
    SmtpSettings settings_;
    BackgroundJob job_;
};

} // namespace lumetra
