#include "MailLog.h"
#include "delivery/MapiMailer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace lumetra;

namespace {

using Record = lumetra::test::MailLogRecord;

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\'));
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class Mail : public ::testing::Test {
  protected:
    void SetUp() override { ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", nullptr); }
    void TearDown() override { ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", nullptr); }

    std::vector<Record> Records() const { return log_.Records(); }
    std::vector<std::string> Kinds() const {
        std::vector<std::string> kinds;
        for (const Record& record : Records())
            kinds.push_back(record.kind);
        return kinds;
    }

    lumetra::test::ScopedMailLog log_;
};

using KindList = std::vector<std::string>;

} // namespace

TEST(MailRecipients, SplitAtSemicolonsAsTyped) {
    using List = std::vector<std::string>;
    EXPECT_EQ(SplitRecipients("a@x.org"), List{"a@x.org"});
    EXPECT_EQ(SplitRecipients("a@x.org;b@y.org"), (List{"a@x.org", "b@y.org"}));
    EXPECT_EQ(SplitRecipients("a@x.org;b@y.org;"), (List{"a@x.org", "b@y.org"}));
    EXPECT_EQ(SplitRecipients("a@x.org; b@y.org"), (List{"a@x.org", " b@y.org"}));
    EXPECT_EQ(SplitRecipients(""), List{""});
    EXPECT_EQ(SplitRecipients(" "), List{" "});
    EXPECT_EQ(SplitRecipients(";a@x.org;;b@y.org"), (List{"", "a@x.org", "", "b@y.org"}));
    EXPECT_EQ(SplitRecipients(";"), List{""});
}

TEST(MailCompose, OneAttachmentAndTheBareNameAsSubjectAndBody) {
    MapiMailer mailer;
    mailer.AddRecipient("stale@x.org");
    mailer.AddAttachment("C:\\stale.jpg");
    ComposeMail(mailer, "a@x.org;b@y.org", "C:\\cams\\door1000000000.jpg", "door1000000000.jpg");
    EXPECT_EQ(mailer.Recipients(), (std::vector<std::string>{"a@x.org", "b@y.org"}));
    EXPECT_EQ(mailer.Attachments(), std::vector<std::string>{"C:\\cams\\door1000000000.jpg"});
    EXPECT_EQ(mailer.Subject(), "door1000000000.jpg");
    EXPECT_EQ(mailer.NoteText(), "door1000000000.jpg");
}

TEST_F(Mail, ProviderIsOursFromTheProgramFolder) {
    MapiMailer mailer;
    ASSERT_TRUE(mailer.IsLoaded());
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA("MAPI32.DLL"), path, MAX_PATH);
    EXPECT_EQ(std::string(path).substr(0, std::string(path).find_last_of('\\')), ProgramDirectory());
}

TEST_F(Mail, SendsOneMessageToEveryResolvedRecipientAndLogsOff) {
    MapiMailer mailer;
    ComposeMail(mailer, "a@x.org;b@y.org", "C:\\cams\\door1000000000.jpg", "door1000000000.jpg");
    EXPECT_TRUE(mailer.SendMail());

    const std::vector<Record> r = Records();
    ASSERT_EQ(Kinds(), (KindList{"LOGON", "RESOLVE", "RESOLVE", "SEND", "RECIP", "RECIP", "FILE", "FREE",
                                 "FREE", "LOGOFF"}));
    EXPECT_EQ(r[0]["ui"], "0");
    EXPECT_EQ(r[0]["profile"], "null");
    EXPECT_EQ(r[0]["password"], "null");
    EXPECT_EQ(r[0]["flags"], "0");
    const std::string session = r[0]["session"];
    EXPECT_EQ(r[1]["name"], "a@x.org");
    EXPECT_EQ(r[1]["session"], session);
    EXPECT_EQ(r[1]["flags"], "0");
    EXPECT_EQ(r[2]["name"], "b@y.org");

    const Record& send = r[3];
    EXPECT_EQ(send["session"], session);
    EXPECT_EQ(send["ui"], "0");
    EXPECT_EQ(send["flags"], "0") << "no mail or logon dialog";
    EXPECT_EQ(send["msgreserved"], "0");
    EXPECT_EQ(send["subject"], "door1000000000.jpg");
    EXPECT_EQ(send["note"], "door1000000000.jpg");
    EXPECT_EQ(send["type"], "null");
    EXPECT_EQ(send["date"], "null");
    EXPECT_EQ(send["conversation"], "null");
    EXPECT_EQ(send["msgflags"], "0");
    EXPECT_EQ(send["originator"], "null");
    EXPECT_EQ(send["recips"], "2");
    EXPECT_EQ(send["files"], "1");

    EXPECT_EQ(r[4]["class"], "1");
    EXPECT_EQ(r[4]["name"], "a@x.org");
    EXPECT_EQ(r[4]["address"], "SMTP:a@x.org");
    EXPECT_EQ(r[4]["eid"], Hex("EID:a@x.org"));
    EXPECT_EQ(r[5]["address"], "SMTP:b@y.org");
    EXPECT_EQ(r[5]["eid"], Hex("EID:b@y.org"));

    EXPECT_EQ(r[6]["reserved"], "0");
    EXPECT_EQ(r[6]["flags"], "0");
    EXPECT_EQ(r[6]["position"], "4294967295");
    EXPECT_EQ(r[6]["path"], "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(r[6]["name"], "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(r[6]["type"], "null");

    EXPECT_EQ(r[7]["known"], "1");
    EXPECT_EQ(r[8]["known"], "1");
    EXPECT_EQ(r[9]["session"], session);
}

TEST_F(Mail, TwoMailsInARowCarryOneAttachmentEach) {
    MapiMailer mailer;
    MailLastSavedImage(mailer, "a@x.org", "C:\\cams\\image.jpg", "image.jpg");
    MailLastSavedImage(mailer, "a@x.org", "C:\\cams\\image.jpg", "image.jpg");
    EXPECT_EQ(Kinds(), (KindList{"LOGON", "RESOLVE", "SEND", "RECIP", "FILE", "FREE", "LOGOFF", //
                                 "LOGON", "RESOLVE", "SEND", "RECIP", "FILE", "FREE", "LOGOFF"}));
    const std::vector<Record> r = Records();
    EXPECT_NE(r[0]["session"], r[7]["session"]) << "each mail has a session of its own";
    EXPECT_EQ(r[6]["session"], r[0]["session"]);
    EXPECT_EQ(r[13]["session"], r[7]["session"]);
    EXPECT_EQ(r[9]["recips"], "1");
    EXPECT_EQ(r[9]["files"], "1");
}

TEST_F(Mail, UnresolvedRecipientsAreLeftOut) {
    MapiMailer mailer;
    ComposeMail(mailer, "a@x.org;bob; c@z.org", "C:\\cams\\image.jpg", "image.jpg");
    EXPECT_TRUE(mailer.SendMail());
    EXPECT_EQ(Kinds(), (KindList{"LOGON", "RESOLVE", "RESOLVE", "RESOLVE", "SEND", "RECIP", "RECIP", "FILE",
                                 "FREE", "FREE", "LOGOFF"}));
    const std::vector<Record> r = Records();
    EXPECT_EQ(r[2]["name"], "bob");
    EXPECT_EQ(r[2]["result"], std::to_string(MAPI_E_UNKNOWN_RECIPIENT));
    EXPECT_EQ(r[3]["name"], " c@z.org") << "blanks are kept";
    EXPECT_EQ(r[4]["recips"], "2");
    EXPECT_EQ(r[5]["name"], "a@x.org");
    EXPECT_EQ(r[6]["name"], " c@z.org");
}

TEST_F(Mail, NothingIsSentWhenNoRecipientResolves) {
    MapiMailer mailer;
    ComposeMail(mailer, "", "C:\\cams\\image.jpg", "image.jpg");
    EXPECT_FALSE(mailer.SendMail());
    EXPECT_EQ(Kinds(), (KindList{"LOGON", "RESOLVE", "LOGOFF"}));
    EXPECT_EQ(Records()[1]["name"], "") << "an empty address is still offered";
}

TEST_F(Mail, LongTextsAreHandedOverWhole) {
    const std::string address = std::string(300, 'a') + "@" + std::string(700, 'b') + ".org";
    const std::string name = std::string(400, 'n') + ".jpg";
    const std::string path = "C:\\" + std::string(600, 'd') + "\\" + name;
    MapiMailer mailer;
    ComposeMail(mailer, address, path, name);
    EXPECT_TRUE(mailer.SendMail());
    const std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[1]["name"], address);
    EXPECT_EQ(r[2]["subject"], name);
    EXPECT_EQ(r[2]["note"], name);
    EXPECT_EQ(r[3]["name"], address);
    EXPECT_EQ(r[4]["path"], path);
    EXPECT_EQ(r[4]["name"], path);
}

TEST_F(Mail, FailedLogonSendsNothing) {
    ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", "logon");
    MapiMailer mailer;
    ComposeMail(mailer, "a@x.org", "C:\\cams\\image.jpg", "image.jpg");
    EXPECT_FALSE(mailer.SendMail());
    EXPECT_EQ(Kinds(), KindList{"LOGON"});
}

TEST_F(Mail, FailedSendIsReportedAndStillLogsOff) {
    ::SetEnvironmentVariableA("LUMETRA_MAPI_FAIL", "send");
    MapiMailer mailer;
    ComposeMail(mailer, "a@x.org", "C:\\cams\\image.jpg", "image.jpg");
    EXPECT_FALSE(mailer.SendMail());
    EXPECT_EQ(Kinds(), (KindList{"LOGON", "RESOLVE", "SEND", "RECIP", "FILE", "FREE", "LOGOFF"}));
}

TEST_F(Mail, NoMapiInTheProfileMeansNoMail) {
    char previous[16] = {};
    ::GetProfileStringA("Mail", "MAPI", "", previous, sizeof(previous));
    ASSERT_TRUE(::WriteProfileStringA("Mail", "MAPI", "0"));
    {
        MapiMailer mailer;
        EXPECT_FALSE(mailer.IsLoaded());
        MailLastSavedImage(mailer, "a@x.org", "C:\\cams\\image.jpg", "image.jpg");
        EXPECT_FALSE(mailer.SendMail());
    }
    ::WriteProfileStringA("Mail", "MAPI", previous[0] != '\0' ? previous : nullptr);
    EXPECT_TRUE(Kinds().empty());
    MapiMailer restored;
    EXPECT_TRUE(restored.IsLoaded());
}
