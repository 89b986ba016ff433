#include <winsock2.h>

#include "FtpServer.h"
#include "StartProcess.h"

#include <windows.h>

#include <fstream>
#include <iterator>

namespace lumetra::test {

namespace {
// Winsock for the lifetime of one call.
struct Winsock {
    Winsock() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { ::WSACleanup(); }
};

sockaddr_in Loopback(unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    address.sin_port = ::htons(port);
    return address;
}

} // namespace

std::string ToWindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<char> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = directory + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(directory.c_str());
}

unsigned short FreeLoopbackPort() {
    Winsock winsock;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(0);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(s);
    return ::ntohs(address.sin_port);
}
bool CanConnect(unsigned short port) {
    Winsock winsock;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(port);
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::closesocket(s);
    return connected;
}

bool FtpServer::PortCanBeBound(unsigned short port) {
    Winsock winsock;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(port);
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::closesocket(s);
    return bound;
}

FtpServer::FtpServer(const std::string& user, const std::string& password, unsigned short port, Modes modes)
    : port_(port ? port : FreeLoopbackPort()) {
    // Wine's process ids repeat across prefixes; the port does not.
    base_ = "/tmp/lumetra-ftp-" + std::to_string(port_);
    RemoveTree(ToWindowsPath(base_));
    ::CreateDirectoryA(ToWindowsPath(base_).c_str(), nullptr);
    ::CreateDirectoryA(Root().c_str(), nullptr);
    std::string commandLine = "Z:\\usr\\bin\\python3 " LUMETRA_FTP_SERVER_SCRIPT " " + std::to_string(port_) +
                              " " + base_ + "/root " + user + " " + password + " " + base_ + "/stop " +
                              base_ + "/commands.log" + (modes == Modes::PassiveOnly ? " passive-only" : "");
    ChildProcess server;
    const bool started = server.Start(commandLine);
    server.Detach(); // it ends itself at the stop file
    for (int i = 0; started && i < 300 && !CanConnect(port_); ++i)
        ::Sleep(50);
    ready_ = started && CanConnect(port_);
}

FtpServer::~FtpServer() {
    std::ofstream(ToWindowsPath(base_ + "/stop")).put('x');
    for (int i = 0; i < 100 && CanConnect(port_); ++i)
        ::Sleep(50);
    RemoveTree(ToWindowsPath(base_));
}

std::string FtpServer::Transcript() const {
    const std::vector<char> log = ReadWholeFile(ToWindowsPath(base_ + "/commands.log"));
    return {log.begin(), log.end()};
}

void FtpServer::Clear() {
    RemoveTree(Root());
    ::CreateDirectoryA(Root().c_str(), nullptr);
}

} // namespace lumetra::test
