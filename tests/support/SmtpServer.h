#pragma once
// A real SMTP server for tests: aiosmtpd on 127.0.0.1 with a self-signed certificate that openssl
// makes for it, started from the test under Wine. Like FtpServer, it stops itself at its stop file.

#include <map>
#include <string>
#include <vector>

namespace lumetra::test {

class SmtpServer {
  public:
    enum class Mode { StartTls, TlsOnConnect, Plain, Silent };
    static constexpr char User[] = "camera";
    static constexpr char Password[] = "s3cret";

    // Takes User's login with Password; the certificate is made out to `names` (DNS names and IP
    // addresses, separated by commas). Port 0 takes a free port.
    explicit SmtpServer(Mode mode, const std::string& names = "localhost,127.0.0.1", unsigned short port = 0);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    bool Ready() const { return ready_; }
    unsigned short Port() const { return port_; }
    // openssl's SHA-256 fingerprint of the server's certificate ("AB:CD:...").
    std::string Fingerprint() const;
    // The last message as Python's email package read it (empty: none came): mail_from, rcpt_to,
    // from, to, subject, message_id, date_offset (seconds from now), text, filename, content_type,
    // and auth ("PLAIN tls ok": mechanism, over TLS or not, accepted or not).
    std::map<std::string, std::string> Received() const;
    std::vector<char> Attachment() const;

  private:
    std::string base_;
    unsigned short port_ = 0;
    bool ready_ = false;
};

} // namespace lumetra::test
