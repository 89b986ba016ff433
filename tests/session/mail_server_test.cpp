// A camera that mails through an SMTP server of its own: set up in the "Mail server" dialog from
// CAM ACTION, tried with a test mail, its self-signed certificate trusted by its fingerprint, and
// the camera's images mailed through it.
#include "FtpServer.h"
#include "SessionHarness.h"
#include "SmtpServer.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "settings/MailServerDialog.h"

#include <gtest/gtest.h>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;
namespace mail = lumetra::mail_server_ids;

namespace {

const std::string kCamera = "Mail Server Cam";

class MailServerTest : public OneCameraTest {
  protected:
    MailServerTest() : OneCameraTest(kCamera) {}
};

// Answers the next message box with `caption` by `command` and returns its text.
std::string Answered(const std::string& caption, int command = IDOK) {
    return AnswerMessageBox(caption, 30000, command);
}

} // namespace

TEST_F(MailServerTest, ACameraMailsThroughItsServerOnceTheServersCertificateIsTrusted) {
    SmtpServer server(SmtpServer::Mode::StartTls);
    ASSERT_TRUE(server.Ready());
    TempFolder folder("mail-server");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    SetEdit(action, ids::Directory, folder.path());
    SetEdit(action, ids::FileName, "door");
    SetEdit(action, ids::EmailAddresses, "owner@example.com");

    Driver driver([&] {
        HWND dialog = WaitForDialogWithItem("Mail server", mail::SendTest);
        ASSERT_NE(dialog, nullptr);
        ::PostMessageA(::GetDlgItem(dialog, mail::UseSmtp), BM_CLICK, 0, 0);
        // A password in clear to a server elsewhere is refused before anything is sent.
        SetItemText(dialog, mail::Server, "mail.example.org");
        ::SendMessageA(::GetDlgItem(dialog, mail::Security), CB_SETCURSEL, 2, 0);
        SetItemText(dialog, mail::User, SmtpServer::User);
        SetItemText(dialog, mail::Password, SmtpServer::Password);
        SetItemText(dialog, mail::Sender, "camera@lumetra.test");
        Click(dialog, IDOK);
        EXPECT_NE(Answered("Lumetra").find("only over TLS"), std::string::npos);

        SetItemText(dialog, mail::Server, "localhost");
        SetItemText(dialog, mail::Port, std::to_string(server.Port()));
        ::SendMessageA(::GetDlgItem(dialog, mail::Security), CB_SETCURSEL, 0, 0);
        Click(dialog, mail::SendTest);
        const std::string question = Answered("Trust this certificate?", IDYES);
        EXPECT_NE(question.find(server.Fingerprint()), std::string::npos) << question;
        Click(dialog, mail::SendTest);
        EXPECT_EQ(Answered("Test mail"), "The test mail was sent.");
        EXPECT_NE(GetItemText(dialog, mail::TrustedCertificate).find(server.Fingerprint()),
                  std::string::npos);
        Click(dialog, IDOK);
    });
    PressButton(action, ids::MailServer);
    driver.Join();
    EXPECT_EQ(server.Received()["subject"], "Lumetra test mail");
    EXPECT_EQ(action->Settings().mailMethod, MailThroughSmtp);
    EXPECT_EQ(action->Settings().smtpTrustedCertificate, server.Fingerprint());
    EXPECT_EQ(StoredText(kCamera, "SMT").value_or(""), server.Fingerprint());

    // The camera's own image, byte for byte, with the login inside TLS.
    PressButton(action, ids::SaveCurrentImage);
    ASSERT_TRUE(PumpUntil([&] { return session->ImagesWritten() == 1; }, 5000));
    PressButton(action, ids::EmailLastImage);
    ASSERT_TRUE(PumpUntil([&] { return server.Received()["filename"] == "door.jpg"; }, 30000));
    EXPECT_EQ(server.Attachment(), ReadWholeFile(folder.File("door.jpg")));
    EXPECT_EQ(server.Received()["auth"], "PLAIN tls ok");
    EXPECT_EQ(server.Received()["to"], "owner@example.com");
}
