#pragma once
// A small HTTP client over Winsock for the web service's tests and benchmark: raw requests (so bad
// ones can be sent too), answers framed by Content-Length or by the close, and MJPEG stream parts.

#include <winsock2.h>

#include <map>
#include <optional>
#include <string>

namespace lumetra::test {

struct HttpAnswer {
    int status = 0;                             // 0: no answer
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string Header(const std::string& name) const;
};

class WebConnection {
  public:
    WebConnection();
    ~WebConnection();
    WebConnection(const WebConnection&) = delete;
    WebConnection& operator=(const WebConnection&) = delete;

    bool Connect(unsigned short port);
    bool Send(const std::string& bytes);
    // Reads one answer; a HEAD request's answer has no body.
    HttpAnswer ReadAnswer(unsigned timeoutMs = 5000, bool head = false);
    // The next part of a multipart/x-mixed-replace stream, whose header ReadAnswer has read.
    std::optional<std::string> ReadPart(unsigned timeoutMs = 5000);
    // Whether the peer closed the connection within the time (after anything it still sends).
    bool ClosedWithin(unsigned timeoutMs);
    // Everything not yet read once the peer has closed; nullopt while it is still open after the time.
    std::optional<std::string> ReadUntilClosed(unsigned timeoutMs);
    void Close();

  private:
    bool Fill(unsigned timeoutMs); // reads more into pending_
    bool ReadLineBlock(std::string& block, unsigned timeoutMs);

    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
    bool closed_ = false;
};

// One request on a fresh connection; "GET <path> HTTP/1.1" with Host and the extra header lines.
HttpAnswer HttpGet(unsigned short port, const std::string& path, const std::string& extraHeaders = {});
HttpAnswer HttpExchange(unsigned short port, const std::string& request, unsigned timeoutMs = 5000);

} // namespace lumetra::test
