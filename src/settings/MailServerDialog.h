#pragma once
// "Mail server": how a camera's mails leave, through the machine's mail program or an SMTP server
// of the camera's own, with a test mail that answers with success or the server's own words.

#include "delivery/BackgroundJob.h"
#include "delivery/SmtpMailer.h"
#include "framework/Dialog.h"
#include "resources/ControlIds.h"
#include "settings/CameraSettings.h"

#include <optional>
#include <string>

namespace lumetra {

namespace mail_server_ids {
constexpr int UseMailProgram = IDC_MAIL_USE_MAIL_PROGRAM;
constexpr int UseSmtp = IDC_MAIL_USE_SMTP;
constexpr int Server = IDC_MAIL_SERVER;
constexpr int Port = IDC_MAIL_PORT;
constexpr int Security = IDC_MAIL_SECURITY; // in SmtpSecurity's order
constexpr int User = IDC_MAIL_USER;
constexpr int Password = IDC_MAIL_PASSWORD;
constexpr int Sender = IDC_MAIL_SENDER;
constexpr int TrustedCertificate = IDC_MAIL_TRUSTED_CERTIFICATE;
constexpr int SendTest = IDC_MAIL_SEND_TEST;
} // namespace mail_server_ids

// The SMTP server of a camera's settings; none when it mails through the mail program.
std::optional<SmtpSettings> SmtpSettingsOf(const CameraSettings& settings);
// Copies the mail server's part of the settings (the method, the server and what trusts it).
void CopyMailServer(const CameraSettings& from, CameraSettings& to);
// Shows the fingerprint of a certificate no authority vouches for and asks whether to trust it.
bool AskToTrustCertificate(HWND owner, const std::string& fingerprint);

class MailServerDialog : public Dialog {
  public:
    // Modal over `owner`, on a copy of `settings`; `testAddresses` receive the test mail.
    MailServerDialog(const CameraSettings& settings, std::string testAddresses, HWND owner);

    // The settings as the dialog left them (taken in full on OK).
    const CameraSettings& Settings() const { return settings_; }

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(DataExchange& exchange) override;
    std::string FieldName(int id) const override;

  private:
    // Takes the fields and checks what an SMTP server needs; false (after a message) when refused.
    bool TakeSmtpFields();
    void OnSecurityChosen();
    void OnSendTest();
    void OnTestFinished(const JobOutcome& outcome);
    void ShowTrustedCertificate();
    void EnableServerFields();

    CameraSettings settings_;
    std::string testAddresses_;
    int useSmtp_ = 0;
    BackgroundJob testJob_;
};

} // namespace lumetra
