#include "SmtpServer.h"
#include "TempFiles.h"
#include "WindowDriver.h"
#include "delivery/SmtpMailer.h"
#include "framework/AnsiText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <optional>
#include <thread>

using namespace lumetra;
using Mode = lumetra::test::SmtpServer::Mode;
using lumetra::test::SmtpServer;

namespace {

class Smtp : public ::testing::Test {
  protected:
    void SetUp() override {
        // Every byte value, over many base64 lines.
        for (int i = 0; i < 70000; ++i)
            image_.push_back(static_cast<char>((i * 7919) >> 3));
        std::ofstream(imagePath_, std::ios::binary)
            .write(image_.data(), static_cast<std::streamsize>(image_.size()));
    }
    static SmtpSettings Settings(const SmtpServer& server, SmtpSecurity security = SmtpSecurity::StartTls) {
        return {.server = "localhost",
                .port = server.Port(),
                .security = security,
                .user = SmtpServer::User,
                .password = SmtpServer::Password,
                .sender = "camera@lumetra.test",
                .trustedFingerprint = server.Fingerprint()};
    }
    MailRequest Request(const std::string& name = "door1000000000.jpg") const {
        return {"a@x.test; ;b@y.test", imagePath_, name, "", ""};
    }
    static JobOutcome Send(const SmtpSettings& settings, const MailRequest& request) {
        JobStop stop;
        return SendSmtpMail(settings, request, stop);
    }
    static ULONGLONG Since(ULONGLONG start) { return ::GetTickCount64() - start; }

    lumetra::test::TempFolder folder_{"smtp"};
    std::string imagePath_ = folder_.File("image.jpg");
    std::vector<char> image_;
};

// Through the mailer a camera holds, as the user-interface thread sees it.
JobOutcome SendThroughMailer(const SmtpSettings& settings, const MailRequest& request) {
    SmtpMailer mailer(settings);
    std::optional<JobOutcome> outcome;
    EXPECT_TRUE(mailer.Send(request, [&outcome](const JobOutcome& told) { outcome = told; }));
    EXPECT_TRUE(mailer.Busy());
    EXPECT_FALSE(mailer.Send(request, nullptr)) << "one mail at a time";
    lumetra::test::PumpUntil([&outcome] { return outcome.has_value(); }, 30000);
    return outcome.value_or(JobOutcome{});
}

} // namespace

TEST_F(Smtp, AnImageArrivesWholeWithTheLoginInsideTls) {
    const struct {
        Mode mode;
        SmtpSecurity security;
        bool throughMailer;
    } rows[] = {{Mode::StartTls, SmtpSecurity::StartTls, false},
                {Mode::TlsOnConnect, SmtpSecurity::TlsOnConnect, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mode));
        SmtpServer server(row.mode);
        ASSERT_TRUE(server.Ready());
        const JobOutcome outcome = row.throughMailer
                                       ? SendThroughMailer(Settings(server, row.security), Request())
                                       : Send(Settings(server, row.security), Request());
        ASSERT_TRUE(outcome.succeeded) << outcome.failure;
        auto received = server.Received();
        EXPECT_EQ(received["auth"], "PLAIN tls ok");
        EXPECT_EQ(received["mail_from"], "camera@lumetra.test");
        EXPECT_EQ(received["rcpt_to"], "a@x.test b@y.test");
        EXPECT_EQ(received["from"], "camera@lumetra.test");
        EXPECT_EQ(received["to"], "a@x.test, b@y.test");
        EXPECT_EQ(received["subject"], "door1000000000.jpg");
        EXPECT_EQ(received["text"], "door1000000000.jpg");
        EXPECT_EQ(received["filename"], "door1000000000.jpg");
        EXPECT_EQ(received["content_type"], "image/jpeg");
        EXPECT_LT(std::stod(received["date_offset"]), 120.0) << "local time with its zone";
        EXPECT_TRUE(received["message_id"].ends_with("@lumetra.test>")) << received["message_id"];
        EXPECT_EQ(server.Attachment(), image_);
    }
}

TEST_F(Smtp, AnUnknownCertificateIsRefusedUntilItsFingerprintIsTrusted) {
    unsigned short port = 0;
    std::string first;
    {
        SmtpServer server(Mode::StartTls);
        ASSERT_TRUE(server.Ready());
        port = server.Port();
        first = server.Fingerprint();
        SmtpSettings settings = Settings(server);
        settings.trustedFingerprint.clear();
        const JobOutcome refused = Send(settings, Request());
        EXPECT_FALSE(refused.succeeded);
        EXPECT_EQ(refused.untrustedCertificate, first) << refused.failure;
        EXPECT_EQ(server.Received()["auth"], "") << "no password went to it";
        settings.trustedFingerprint = refused.untrustedCertificate;
        EXPECT_TRUE(Send(settings, Request()).succeeded);
    }
    SmtpServer renewed(Mode::StartTls, "localhost,127.0.0.1", port);
    ASSERT_TRUE(renewed.Ready());
    ASSERT_NE(renewed.Fingerprint(), first);
    SmtpSettings settings = Settings(renewed);
    settings.trustedFingerprint = first;
    const JobOutcome refused = Send(settings, Request());
    EXPECT_FALSE(refused.succeeded);
    EXPECT_EQ(refused.untrustedCertificate, renewed.Fingerprint());
    EXPECT_TRUE(renewed.Received().empty());
}

TEST_F(Smtp, ATrustedCertificateMustNameTheServer) {
    const struct {
        const char* names;
        const char* server;
        std::string failure; // empty: sent
    } rows[] = {
        {"elsewhere.invalid", "localhost", "the server's certificate is not made out to \"localhost\""},
        {"localhost", "127.0.0.1", "the server's certificate is not made out to \"127.0.0.1\""},
        {"localhost,127.0.0.1", "127.0.0.1", ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server);
        SmtpServer server(Mode::StartTls, row.names);
        ASSERT_TRUE(server.Ready());
        SmtpSettings settings = Settings(server);
        settings.server = row.server;
        const JobOutcome outcome = Send(settings, Request());
        EXPECT_EQ(outcome.succeeded, row.failure.empty());
        EXPECT_EQ(outcome.failure, row.failure);
        EXPECT_EQ(outcome.untrustedCertificate, "") << "trusting it would not help";
        EXPECT_EQ(server.Received().empty(), !row.failure.empty());
    }
}

TEST_F(Smtp, APasswordGoesWithoutTlsOnlyToThisMachine) {
    SmtpServer server(Mode::Plain);
    ASSERT_TRUE(server.Ready());
    SmtpSettings settings = Settings(server, SmtpSecurity::None);
    settings.server = "192.0.2.1"; // TEST-NET: never contacted, or this would wait out the 30 s
    const ULONGLONG start = ::GetTickCount64();
    const JobOutcome refused = Send(settings, Request());
    EXPECT_FALSE(refused.succeeded);
    EXPECT_TRUE(refused.failure.starts_with("the password is not sent without TLS to 192.0.2.1"))
        << refused.failure;
    EXPECT_LT(Since(start), 2000u);

    settings.server = "127.0.0.1";
    const JobOutcome local = Send(settings, Request());
    EXPECT_TRUE(local.succeeded) << local.failure;
    EXPECT_EQ(server.Received()["auth"], "PLAIN plain ok");
}

TEST_F(Smtp, ARefusalSaysWhy) {
    const struct {
        Mode mode;
        const char* password;
        std::string failure;
    } rows[] = {
        {Mode::StartTls, "wrong", "535 5.7.8 Authentication credentials invalid"},
        {Mode::Plain, SmtpServer::Password, "localhost does not offer STARTTLS, so nothing was sent"}};
    for (const auto& row : rows) {
        SmtpServer server(row.mode);
        ASSERT_TRUE(server.Ready());
        SmtpSettings settings = Settings(server);
        settings.password = row.password;
        const JobOutcome outcome = Send(settings, Request());
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.failure, row.failure);
        EXPECT_TRUE(server.Received()["mail_from"].empty());
    }
}

TEST_F(Smtp, ASilentServerIsLeftAfterTheTimeoutOrWhenTheProgramEnds) {
    const struct {
        DWORD timeoutMs;
        DWORD stopAfterMs; // 0: no stop
        ULONGLONG atLeastMs, atMostMs;
        std::string failure;
    } rows[] = {{2000, 0, 1900, 8000, "the server did not answer within 2 s"},
                {30000, 500, 400, 5000, "the program is ending"}};
    SmtpServer server(Mode::Silent);
    ASSERT_TRUE(server.Ready());
    for (const auto& row : rows) {
        SmtpSettings settings = Settings(server);
        settings.timeoutMs = row.timeoutMs;
        JobStop stop;
        std::thread stopper([&] {
            if (row.stopAfterMs) {
                ::Sleep(row.stopAfterMs);
                stop.Request();
            }
        });
        const ULONGLONG start = ::GetTickCount64();
        const JobOutcome outcome = SendSmtpMail(settings, Request(), stop);
        const ULONGLONG took = Since(start);
        stopper.join();
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.failure, row.failure);
        EXPECT_GE(took, row.atLeastMs);
        EXPECT_LE(took, row.atMostMs);
    }
}

TEST_F(Smtp, AMailAboutTheCameraCarriesItsOwnTextWhole) {
    SmtpServer server(Mode::StartTls);
    ASSERT_TRUE(server.Ready());
    const MailRequest request{"a@x.test", "", "", "Camera lost", "The camera went away.\r\n.\r\n..dots\r\n."};
    const JobOutcome outcome = Send(Settings(server), request);
    ASSERT_TRUE(outcome.succeeded) << outcome.failure;
    auto received = server.Received();
    EXPECT_EQ(received["subject"], "Camera lost");
    EXPECT_EQ(received["text"], "The camera went away. . ..dots .") << "lines of dots are no end of the mail";
    EXPECT_EQ(received.count("filename"), 0u);
}

TEST_F(Smtp, ANameBeyondAsciiArrivesAsItWas) {
    const std::string name = WideToAnsi(
        L"T\u00fcr-Kamera im Garten \u00e9t\u00e9 und Stra\u00dfe, ein recht langer Name 1000000000.jpg");
    const std::string expected = WideToUtf8(AnsiToWide(name));
    ASSERT_NE(expected.find("\xC3\xBC"), std::string::npos) << "the ANSI code page has no \u00fc";
    SmtpServer server(Mode::StartTls);
    ASSERT_TRUE(server.Ready());
    const JobOutcome outcome = Send(Settings(server), Request(name));
    ASSERT_TRUE(outcome.succeeded) << outcome.failure;
    auto received = server.Received();
    EXPECT_EQ(received["filename"], expected);
    EXPECT_EQ(received["subject"], expected);
    EXPECT_EQ(server.Attachment(), image_);
}
