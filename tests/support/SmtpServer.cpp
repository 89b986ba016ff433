#include "SmtpServer.h"

#include "FtpServer.h"
#include "StartProcess.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace lumetra::test {

SmtpServer::SmtpServer(Mode mode, const std::string& names, unsigned short port)
    : port_(port ? port : FreeLoopbackPort()) {
    base_ = "/tmp/lumetra-smtp-" + std::to_string(port_);
    RemoveTree(ToWindowsPath(base_));
    ::CreateDirectoryA(ToWindowsPath(base_).c_str(), nullptr);
    static const char* const modes[] = {"starttls", "tls", "plain", "silent"};
    ChildProcess server;
    const bool started = server.Start(
        "Z:\\usr\\bin\\python3 " LUMETRA_SMTP_SERVER_SCRIPT " " + std::string(modes[static_cast<int>(mode)]) +
        " " + std::to_string(port_) + " " + base_ + " " + User + " " + Password + " " + names);
    server.Detach(); // it ends itself at the stop file
    // Making the certificate comes first: it may take a few seconds.
    for (int i = 0; started && i < 400 && !CanConnect(port_); ++i)
        ::Sleep(50);
    ready_ = started && CanConnect(port_);
}

SmtpServer::~SmtpServer() {
    std::ofstream(ToWindowsPath(base_ + "/stop")).put('x');
    for (int i = 0; i < 100 && CanConnect(port_); ++i)
        ::Sleep(50);
    RemoveTree(ToWindowsPath(base_));
}

std::string SmtpServer::Fingerprint() const {
    const std::vector<char> text = ReadWholeFile(ToWindowsPath(base_ + "/fingerprint"));
    return {text.begin(), text.end()};
}

std::map<std::string, std::string> SmtpServer::Received() const {
    const std::vector<char> text = ReadWholeFile(ToWindowsPath(base_ + "/message.txt"));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::map<std::string, std::string> facts;
    for (std::string line; std::getline(lines, line);)
        if (const size_t equals = line.find('='); equals != std::string::npos)
            facts[line.substr(0, equals)] = line.substr(equals + 1);
    return facts;
}

std::vector<char> SmtpServer::Attachment() const {
    return ReadWholeFile(ToWindowsPath(base_ + "/attachment"));
}

} // namespace lumetra::test
