#pragma once
// lumetra-web.exe as a user runs it: a process of its own, with its console output in a file.

#include <winsock2.h>
#include <windows.h>

#include "StartProcess.h"

#include <string>

namespace lumetra::test {

// The built lumetra-web.exe: under %LUMETRA_BUILD_DIR%, else beside the calling program's folder.
std::string WebServiceProgram();

class WebServiceProcess {
  public:
    WebServiceProcess() = default;
    ~WebServiceProcess();
    WebServiceProcess(const WebServiceProcess&) = delete;
    WebServiceProcess& operator=(const WebServiceProcess&) = delete;

    // Starts the program with these arguments; with a port, waits until it answers there.
    bool Start(const std::string& arguments, unsigned short port = 0, const std::string& program = {});
    // Sends WM_CLOSE to its window, as taskkill and the uninstaller do.
    bool RequestClose();
    bool WaitForExit(DWORD timeoutMs);
    DWORD ExitCode() const;
    std::string Output() const; // what it printed so far
    void Kill();

  private:
    ChildProcess process_;
    std::string outputPath_;
};

} // namespace lumetra::test
