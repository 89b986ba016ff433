#include "settings/MailServerDialog.h"

#include "delivery/MapiMailer.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"

#include <algorithm>

namespace lumetra {

using namespace mail_server_ids;

namespace {

constexpr char TestCaption[] = "Test mail";
constexpr int MaxServerChars = 255;
constexpr const char* const SecurityNames[] = {"STARTTLS", "TLS from the start", "None"};
// The port each security usually goes with, offered when the security is chosen.
constexpr int UsualPorts[] = {587, 465, 25};

bool IsLoopbackName(const std::string& host) {
    return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1" || host == "[::1]";
}

} // namespace

std::optional<SmtpSettings> SmtpSettingsOf(const CameraSettings& settings) {
    if (settings.mailMethod != MailThroughSmtp)
        return std::nullopt;
    SmtpSettings smtp;
    smtp.server = settings.smtpServer;
    smtp.port = settings.smtpPort;
    smtp.security = static_cast<SmtpSecurity>(std::clamp(settings.smtpSecurity, 0, 2));
    smtp.user = settings.smtpUser;
    smtp.password = settings.smtpPassword;
    smtp.sender = settings.smtpSender;
    smtp.trustedFingerprint = settings.smtpTrustedCertificate;
    return smtp;
}

void CopyMailServer(const CameraSettings& from, CameraSettings& to) {
    to.mailMethod = from.mailMethod;
    to.smtpServer = from.smtpServer;
    to.smtpPort = from.smtpPort;
    to.smtpSecurity = from.smtpSecurity;
    to.smtpUser = from.smtpUser;
    to.smtpPassword = from.smtpPassword;
    to.smtpSender = from.smtpSender;
    to.smtpTrustedCertificate = from.smtpTrustedCertificate;
}

bool AskToTrustCertificate(HWND owner, const std::string& fingerprint) {
    const std::string text = "The mail server's certificate is not vouched for by an authority Windows "
                             "trusts (a server's own certificate, or someone in between).\r\n\r\n"
                             "SHA-256 fingerprint:\r\n" +
                             fingerprint +
                             "\r\n\r\nTrust this certificate only if it is your server's. Trust this "
                             "certificate?";
    return ::MessageBoxA(owner, text.c_str(), "Trust this certificate?", MB_YESNO | MB_ICONWARNING) == IDYES;
}

MailServerDialog::MailServerDialog(const CameraSettings& settings, std::string testAddresses, HWND owner)
    : Dialog(IDD_MAIL_SERVER, owner), settings_(settings), testAddresses_(std::move(testAddresses)),
      useSmtp_(settings.mailMethod == MailThroughSmtp ? 1 : 0) {
    SetNotifications({
        {UseMailProgram, BN_CLICKED, [this] { EnableServerFields(); }},
        {UseSmtp, BN_CLICKED, [this] { EnableServerFields(); }},
        {Security, CBN_SELCHANGE, [this] { OnSecurityChosen(); }},
        {SendTest, BN_CLICKED, [this] { OnSendTest(); }},
    });
}

BOOL MailServerDialog::OnInitDialog() {
    HWND security = Item(Security);
    for (const char* name : SecurityNames)
        ::SendMessageA(security, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    Dialog::OnInitDialog();
    ShowTrustedCertificate();
    EnableServerFields();
    return TRUE;
}

void MailServerDialog::DoDataExchange(DataExchange& exchange) {
    CameraSettings& s = settings_;
    exchange.Check(UseSmtp, useSmtp_);
    if (!exchange.Saving()) {
        ::CheckDlgButton(GetSafeHwnd(), UseMailProgram, useSmtp_ ? BST_UNCHECKED : BST_CHECKED);
        ::SendMessageA(Item(Security), CB_SETCURSEL, static_cast<WPARAM>(std::clamp(s.smtpSecurity, 0, 2)),
                       0);
    } else {
        const LRESULT chosen = ::SendMessageA(Item(Security), CB_GETCURSEL, 0, 0);
        s.smtpSecurity = chosen == CB_ERR ? 0 : static_cast<int>(chosen);
    }
    exchange.Text(Server, s.smtpServer, MaxServerChars);
    exchange.IntRange(Port, s.smtpPort, 1, 65535);
    exchange.Text(User, s.smtpUser);
    exchange.Text(Password, s.smtpPassword);
    exchange.Text(Sender, s.smtpSender);
    if (exchange.Saving())
        s.mailMethod = useSmtp_ ? MailThroughSmtp : MailThroughMailProgram;
}

std::string MailServerDialog::FieldName(int id) const {
    switch (id) {
    case Server:
        return "Server";
    case Port:
        return "Port";
    case Sender:
        return "Sender address";
    case Password:
        return "Password";
    default:
        return Dialog::FieldName(id);
    }
}

bool MailServerDialog::TakeSmtpFields() {
    if (!UpdateData(true))
        return false;
    if (settings_.mailMethod != MailThroughSmtp)
        return true;
    const auto refuse = [this](int id, const char* message) {
        AppMessageBox(GetSafeHwnd(), message, MB_OK | MB_ICONEXCLAMATION);
        ::SetFocus(Item(id));
        return false;
    };
    if (settings_.smtpServer.empty())
        return refuse(Server, "Please enter the mail server's name.");
    if (settings_.smtpSender.find('@') == std::string::npos)
        return refuse(Sender, "Please enter the address the mails come from.");
    // A password in clear crosses the network only to a server on this machine.
    if (settings_.smtpSecurity == static_cast<int>(SmtpSecurity::None) && !settings_.smtpPassword.empty() &&
        !IsLoopbackName(settings_.smtpServer))
        return refuse(Security, "A password is sent only over TLS, or to a server on this machine.");
    return true;
}

void MailServerDialog::OnOK() {
    if (TakeSmtpFields())
        EndDialog(IDOK);
}

void MailServerDialog::OnSecurityChosen() {
    const LRESULT chosen = ::SendMessageA(Item(Security), CB_GETCURSEL, 0, 0);
    if (chosen == CB_ERR)
        return;
    // A port left at another security's usual one follows the choice.
    const int port = static_cast<int>(::GetDlgItemInt(GetSafeHwnd(), Port, nullptr, FALSE));
    if (std::find(std::begin(UsualPorts), std::end(UsualPorts), port) != std::end(UsualPorts))
        ::SetDlgItemInt(GetSafeHwnd(), Port, static_cast<UINT>(UsualPorts[chosen]), FALSE);
}

void MailServerDialog::EnableServerFields() {
    const bool smtp = ::IsDlgButtonChecked(GetSafeHwnd(), UseSmtp) == BST_CHECKED;
    for (int id : {Server, Port, Security, User, Password, Sender})
        ::EnableWindow(Item(id), smtp);
}

void MailServerDialog::ShowTrustedCertificate() {
    const std::string text = settings_.smtpTrustedCertificate.empty()
                                 ? std::string()
                                 : "Trusted certificate: " + settings_.smtpTrustedCertificate;
    ::SetDlgItemTextA(GetSafeHwnd(), TrustedCertificate, text.c_str());
}

void MailServerDialog::OnSendTest() {
    if (testJob_.Running() || !TakeSmtpFields())
        return;
    if (testAddresses_.empty()) {
        AppMessageBox(GetSafeHwnd(), "Please enter an email address in CAM ACTION first.",
                      MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    MailRequest test;
    test.emailAddresses = testAddresses_;
    test.subject = "Lumetra test mail";
    test.text = "This mail was sent to test the mail settings of camera \"" + settings_.cameraName + "\".";
    const std::optional<SmtpSettings> smtp = SmtpSettingsOf(settings_);
    ::EnableWindow(Item(SendTest), FALSE);
    testJob_.Start(
        [smtp, test](JobStop& stop) {
            return smtp ? SendSmtpMail(*smtp, test, stop) : SendMailOnThisThread(test);
        },
        [this](const JobOutcome& outcome) { OnTestFinished(outcome); });
}

void MailServerDialog::OnTestFinished(const JobOutcome& outcome) {
    KeepAlive keepAlive(*this);
    ::EnableWindow(Item(SendTest), TRUE);
    if (outcome.failure.empty()) {
        ::MessageBoxA(GetSafeHwnd(), "The test mail was sent.", TestCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!outcome.untrustedCertificate.empty()) {
        if (AskToTrustCertificate(GetSafeHwnd(), outcome.untrustedCertificate)) {
            settings_.smtpTrustedCertificate = outcome.untrustedCertificate;
            ShowTrustedCertificate();
        }
        return;
    }
    ::MessageBoxA(GetSafeHwnd(), outcome.failure.c_str(), TestCaption, MB_OK | MB_ICONEXCLAMATION);
}

} // namespace lumetra
