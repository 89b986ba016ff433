#include "delivery/TlsChannel.h" // first: Winsock's header must come before windows.h

#include "delivery/SmtpMailer.h"

#include "delivery/MailMessage.h"
#include "framework/AnsiText.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace lumetra {
namespace {

// A server may say a lot, but not without end.
constexpr size_t kMaxReplyLine = 4096;
constexpr size_t kMaxReplyLines = 100;

struct Reply {
    int code = 0;
    std::string text;               // the server's own words, its lines joined by blanks
    std::vector<std::string> lines; // each line without its code (EHLO: one extension a line)
};

// Commands out, replies in, over a channel that may turn to TLS midway.
class SmtpConversation {
  public:
    explicit SmtpConversation(TlsChannel& channel) : channel_(channel) {}

    bool Read(Reply& reply);
    bool Command(const std::string& command, Reply& reply) {
        return channel_.Send(command + "\r\n") && Read(reply);
    }
    bool Send(const std::string& data) { return channel_.Send(data); }
    // The server sent something beyond the replies read so far.
    bool Pending() const { return !buffer_.empty(); }
    const std::string& Failure() const { return failure_.empty() ? channel_.Failure() : failure_; }

  private:
    bool ReadLine(std::string& line);

    TlsChannel& channel_;
    std::string buffer_;
    std::string failure_;
};

bool SmtpConversation::ReadLine(std::string& line) {
    for (;;) {
        if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
            line.assign(buffer_, 0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            for (char& c : line)
                if (static_cast<unsigned char>(c) < 0x20)
                    c = ' ';
            return true;
        }
        if (buffer_.size() > kMaxReplyLine) {
            failure_ = "the server's answer is too long";
            return false;
        }
        if (!channel_.Receive(buffer_))
            return false;
    }
}

bool SmtpConversation::Read(Reply& reply) {
    reply = Reply{};
    for (size_t count = 0; count < kMaxReplyLines; ++count) {
        std::string line;
        if (!ReadLine(line))
            return false;
        const bool coded = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3, [](char c) {
                               return std::isdigit(static_cast<unsigned char>(c));
                           });
        if (!coded || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
            failure_ = "the server does not answer as a mail server: \"" + line.substr(0, 80) + "\"";
            return false;
        }
        reply.code = std::stoi(line.substr(0, 3));
        reply.text += (reply.text.empty() ? "" : " ") + line;
        reply.lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (line.size() == 3 || line[3] == ' ')
            return true;
    }
    failure_ = "the server's answer has too many lines";
    return false;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The words after an EHLO keyword ("AUTH PLAIN LOGIN" -> {"PLAIN", "LOGIN"}); false when the
// server does not name it. Old servers write "AUTH=PLAIN".
bool Offers(const Reply& ehlo, const std::string& keyword, std::vector<std::string>* words = nullptr) {
    for (size_t i = 1; i < ehlo.lines.size(); ++i) {
        std::string line = Upper(ehlo.lines[i]);
        std::replace(line.begin(), line.end(), '=', ' ');
        const size_t end = line.find(' ');
        if (line.substr(0, end) != keyword)
            continue;
        for (size_t at = end; words && at != std::string::npos;) {
            const size_t start = line.find_first_not_of(' ', at);
            if (start == std::string::npos)
                break;
            at = line.find(' ', start);
            words->push_back(line.substr(start, at - start));
        }
        return true;
    }
    return false;
}

// The machine's name when it is a usable host name, for EHLO.
std::string HelloName() {
    char name[256];
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size) || size == 0 || size >= sizeof name)
        return "lumetra";
    const std::string text(name, size);
    const bool usable =
        text.front() != '-' && text.back() != '-' && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
        });
    return usable ? text : "lumetra";
}

class SmtpSession {
  public:
    SmtpSession(const SmtpSettings& settings, TlsChannel& channel) : settings_(settings), channel_(channel) {}
    // True when the mail went to every recipient; Failure() says why not.
    bool Deliver(const std::vector<std::string>& recipients, const std::string& message);
    const std::string& Failure() const { return failure_; }

  private:
    bool Hello();
    bool LogIn();
    // A refusal of the server: its words are the failure, and the session ends politely.
    bool Refused(const Reply& reply) {
        failure_ = reply.text;
        Reply ignored;
        smtp_.Command("QUIT", ignored);
        return false;
    }
    bool Failed(std::string why) {
        failure_ = std::move(why);
        return false;
    }
    bool Expect(const std::string& command, int code) {
        if (!smtp_.Command(command, reply_))
            return Failed(smtp_.Failure());
        return reply_.code == code || Refused(reply_);
    }

    const SmtpSettings& settings_;
    TlsChannel& channel_;
    SmtpConversation smtp_{channel_};
    Reply reply_;
    Reply ehlo_;
    std::string failure_;
};

bool SmtpSession::Hello() {
    if (!smtp_.Command("EHLO " + HelloName(), ehlo_))
        return Failed(smtp_.Failure());
    if (ehlo_.code == 250)
        return true;
    // A server from before ESMTP: no extensions, so no STARTTLS and no login either.
    if (!smtp_.Command("HELO " + HelloName(), ehlo_))
        return Failed(smtp_.Failure());
    return ehlo_.code == 250 || Refused(ehlo_);
}

bool SmtpSession::LogIn() {
    if (!channel_.Secure() && !channel_.ResolvedToLoopback())
        return Failed("the password is not sent without TLS to " + settings_.server);
    std::vector<std::string> mechanisms;
    if (!Offers(ehlo_, "AUTH", &mechanisms))
        return Failed(settings_.server + " offers no login (AUTH)");
    const std::string user = AnsiToUtf8(settings_.user);
    const std::string password = AnsiToUtf8(settings_.password);
    const auto offered = [&mechanisms](const char* name) {
        return std::find(mechanisms.begin(), mechanisms.end(), name) != mechanisms.end();
    };
    if (offered("PLAIN"))
        return Expect("AUTH PLAIN " + Base64(std::string(1, '\0') + user + '\0' + password), 235);
    if (offered("LOGIN"))
        return Expect("AUTH LOGIN", 334) && Expect(Base64(user), 334) && Expect(Base64(password), 235);
    return Failed(settings_.server + " offers no login this program knows (AUTH PLAIN or LOGIN)");
}

bool SmtpSession::Deliver(const std::vector<std::string>& recipients, const std::string& message) {
    const auto secure = [this] {
        return channel_.StartTls(settings_.trustedFingerprint) || Failed(channel_.Failure());
    };
    if (settings_.security == SmtpSecurity::TlsOnConnect && !secure())
        return false;
    if (!smtp_.Read(reply_))
        return Failed(smtp_.Failure());
    if (reply_.code != 220)
        return Refused(reply_);
    if (!Hello())
        return false;
    if (settings_.security == SmtpSecurity::StartTls) {
        if (!Offers(ehlo_, "STARTTLS")) {
            Refused(ehlo_);
            return Failed(settings_.server + " does not offer STARTTLS, so nothing was sent");
        }
        if (!Expect("STARTTLS", 220))
            return false;
        // Anything sent before the handshake could pass for the server's words after it.
        if (smtp_.Pending())
            return Failed("the server sent more than its answer to STARTTLS");
        if (!secure() || !Hello())
            return false;
    }
    if (!settings_.user.empty() && !LogIn())
        return false;

    if (!Expect("MAIL FROM:<" + settings_.sender + ">", 250))
        return false;
    std::string refusedRecipients;
    size_t accepted = 0;
    for (const std::string& recipient : recipients) {
        if (!smtp_.Command("RCPT TO:<" + recipient + ">", reply_))
            return Failed(smtp_.Failure());
        if (reply_.code == 250 || reply_.code == 251)
            ++accepted;
        else
            refusedRecipients += (refusedRecipients.empty() ? "" : "; ") + recipient + ": " + reply_.text;
    }
    if (accepted == 0) {
        Refused(reply_);
        return Failed("no recipient was accepted: " + refusedRecipients);
    }
    if (!Expect("DATA", 354))
        return false;
    if (!smtp_.Send(DotStuffed(message)) || !smtp_.Read(reply_))
        return Failed(smtp_.Failure());
    if (reply_.code != 250)
        return Refused(reply_);
    Reply ignored;
    smtp_.Command("QUIT", ignored); // the mail is delivered whatever the server says to this
    // The others have it; the user still learns who has not.
    return refusedRecipients.empty() || Failed("not delivered to " + refusedRecipients);
}

} // namespace

JobOutcome SendSmtpMail(const SmtpSettings& settings, const MailRequest& request, JobStop& stop) {
    JobOutcome outcome;
    const auto fail = [&outcome](std::string why) {
        outcome.failure = std::move(why);
        return outcome;
    };
    const std::vector<std::string> recipients = MailRecipients(request.emailAddresses);
    if (recipients.empty())
        return fail("no mail address to send to");
    for (const std::string& recipient : recipients)
        if (!IsPlainMailAddress(recipient))
            return fail("\"" + recipient + "\" is not a mail address");
    if (!IsPlainMailAddress(settings.sender))
        return fail("the sender \"" + settings.sender + "\" is not a mail address");
    if (settings.server.empty())
        return fail("no SMTP server is set");
    if (settings.port <= 0 || settings.port > 65535)
        return fail("the port " + std::to_string(settings.port) + " is no port");
    std::string message;
    std::string failure;
    if (!ComposeMailMessage(settings.sender, recipients, request, message, failure))
        return fail(failure);

    TlsChannel channel;
    if (!stop.SetInterrupt([&channel] { channel.Interrupt(); }))
        return fail("the program is ending");
    // Before the channel goes, no interrupt may reach it any more.
    struct InterruptCleared {
        JobStop& stop;
        ~InterruptCleared() { stop.ClearInterrupt(); }
    } cleared{stop};

    if (!channel.Resolve(settings.server, static_cast<unsigned short>(settings.port)))
        return fail(channel.Failure());
    // Decided on the addresses found, before any byte goes out; the connection uses these alone.
    const bool credentials = !settings.user.empty() || !settings.password.empty();
    if (settings.security == SmtpSecurity::None && credentials && !channel.ResolvedToLoopback())
        return fail("the password is not sent without TLS to " + settings.server +
                    " (only to a server on this machine): choose STARTTLS or TLS");
    if (!channel.Connect(settings.timeoutMs))
        return fail(channel.Failure());

    SmtpSession session(settings, channel);
    outcome.succeeded = session.Deliver(recipients, message);
    outcome.failure = session.Failure();
    outcome.untrustedCertificate = channel.UntrustedFingerprint();
    return outcome;
}

bool SmtpMailer::Send(const MailRequest& request, BackgroundJob::Finished finished) {
    if (job_.Running())
        return false;
    return job_.Start(
        [request, settings = settings_](JobStop& stop) { return SendSmtpMail(settings, request, stop); },
        std::move(finished));
}

} // namespace lumetra
