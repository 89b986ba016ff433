#include "WebClient.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace lumetra::test {
namespace {

struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockUser() { ::WSACleanup(); }
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

std::string HttpAnswer::Header(const std::string& name) const {
    const auto found = headers.find(Lower(name));
    return found == headers.end() ? std::string() : found->second;
}

WebConnection::WebConnection() {
    static WinsockUser winsock;
}

WebConnection::~WebConnection() {
    Close();
}

bool WebConnection::Connect(unsigned short port) {
    Close();
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = ::htons(port);
    closed_ = false;
    pending_.clear();
    return ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool WebConnection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int done = ::send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (done <= 0)
            return false;
        sent += static_cast<std::size_t>(done);
    }
    return true;
}

bool WebConnection::Fill(unsigned timeoutMs) {
    if (closed_ || socket_ == INVALID_SOCKET)
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &wait) <= 0)
        return false;
    char buffer[65536];
    const int got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0) {
        closed_ = true;
        return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool WebConnection::ReadLineBlock(std::string& block, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t end;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Fill(static_cast<unsigned>(left.count())))
            return false;
    }
    block = pending_.substr(0, end + 2);
    pending_.erase(0, end + 4);
    return true;
}

HttpAnswer WebConnection::ReadAnswer(unsigned timeoutMs, bool head) {
    HttpAnswer answer;
    std::string block;
    if (!ReadLineBlock(block, timeoutMs))
        return answer;
    std::size_t lineEnd = block.find("\r\n");
    const std::string statusLine = block.substr(0, lineEnd);
    if (statusLine.size() < 12 || statusLine.compare(0, 5, "HTTP/") != 0)
        return answer;
    answer.status = std::atoi(statusLine.c_str() + 9);
    for (std::size_t start = lineEnd + 2; start < block.size(); start = lineEnd + 2) {
        lineEnd = block.find("\r\n", start);
        const std::string line = block.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            answer.headers[Lower(line.substr(0, colon))] =
                line.substr(line.find_first_not_of(' ', colon + 1));
    }
    if (head || answer.status == 304 || answer.Header("content-type").rfind("multipart/", 0) == 0)
        return answer;
    const std::string length = answer.Header("content-length");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto left = [&] {
        return static_cast<unsigned>(std::max<long long>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count()));
    };
    if (!length.empty()) {
        const std::size_t size = std::stoul(length);
        while (pending_.size() < size && Fill(left())) {
        }
        answer.body = pending_.substr(0, size);
        pending_.erase(0, std::min(size, pending_.size()));
    } else {
        while (Fill(left())) {
        }
        answer.body.swap(pending_);
    }
    return answer;
}

std::optional<std::string> WebConnection::ReadPart(unsigned timeoutMs) {
    // A part: its header lines (after the boundary line), the bytes, then CR LF and the next boundary.
    std::string block;
    if (!ReadLineBlock(block, timeoutMs))
        return std::nullopt;
    const std::string lower = Lower(block);
    const std::size_t at = lower.find("content-length:");
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t size = std::stoul(block.substr(at + 15));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending_.size() < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Fill(static_cast<unsigned>(left.count())))
            return std::nullopt;
    }
    std::string part = pending_.substr(0, size);
    pending_.erase(0, size);
    return part;
}

bool WebConnection::ClosedWithin(unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        Fill(static_cast<unsigned>(left.count()));
    }
    return true;
}

std::optional<std::string> WebConnection::ReadUntilClosed(unsigned timeoutMs) {
    if (!ClosedWithin(timeoutMs))
        return std::nullopt;
    return std::exchange(pending_, {});
}

void WebConnection::Close() {
    if (socket_ != INVALID_SOCKET)
        ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

HttpAnswer HttpExchange(unsigned short port, const std::string& request, unsigned timeoutMs) {
    WebConnection connection;
    if (!connection.Connect(port) || !connection.Send(request))
        return {};
    return connection.ReadAnswer(timeoutMs, request.rfind("HEAD ", 0) == 0);
}

HttpAnswer HttpGet(unsigned short port, const std::string& path, const std::string& extraHeaders) {
    return HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                  "\r\nConnection: close\r\n" + extraHeaders + "\r\n");
}

} // namespace lumetra::test
