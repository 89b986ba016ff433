#pragma once
// A real FTP server for tests: pyftpdlib on 127.0.0.1, started from the test under Wine.
// Wine gives no handle to a Linux program it starts, so the server stops itself when the test
// writes its stop file (or after two minutes).

#include <string>
#include <vector>

namespace lumetra::test {

// "/tmp/x" -> "Z:\tmp\x" (Wine shows the Linux root as drive Z:).
std::string ToWindowsPath(const std::string& unixPath);
std::vector<char> ReadWholeFile(const std::string& path);
// How often `part` stands in `text` (overlapping ones counted).
size_t CountOf(const std::string& text, const std::string& part);
void RemoveTree(const std::string& directory);
// Whether something listens on 127.0.0.1:port.
bool CanConnect(unsigned short port);
// A loopback port nothing listens on at the moment.
unsigned short FreeLoopbackPort();

class FtpServer {
  public:
    enum class Modes { ActiveAndPassive, PassiveOnly };
    // Serves a fresh folder to one user; port 0 takes a free port of its own.
    FtpServer(const std::string& user, const std::string& password, unsigned short port = 0,
              Modes modes = Modes::ActiveAndPassive);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Whether this process may listen on the port (port 21 needs root on Linux).
    static bool PortCanBeBound(unsigned short port);

    bool Ready() const { return ready_; }
    unsigned short Port() const { return port_; }
    // Windows path of the served folder.
    std::string Root() const { return ToWindowsPath(base_ + "/root"); }
    // The commands the server has received so far.
    std::string Transcript() const;
    // Empties the served folder.
    void Clear();

  private:
    std::string base_;
    unsigned short port_ = 0;
    bool ready_ = false;
};

} // namespace lumetra::test
