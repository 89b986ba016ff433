#pragma once
// Starts programs for tests. Wine now and then refuses a process start with ERROR_INTERNAL_ERROR
// while its services are still coming up; such a start is tried again a few times.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace lumetra::test {

// One started program; ended (if still running) and its handles closed when the object goes.
class ChildProcess {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>; // NAME, value

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // CreateProcessA with the command line, the current environment with `extraEnvironment` set
    // over it, in `workingFolder` (empty: this process's), its standard output and error going to
    // `output` when one is given (an inheritable handle). False with the last error set when every
    // try failed.
    bool Start(std::string commandLine, const Environment& extraEnvironment = {},
               const std::string& workingFolder = {}, HANDLE output = nullptr);
    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const;
    // Waits for the process to end; true when it did within the time.
    bool WaitForExit(DWORD timeoutMs);
    DWORD ExitCode() const;
    void Kill();
    // Lets the process run on by itself: its handles are closed, it is not ended.
    void Detach();

  private:
    PROCESS_INFORMATION info_{};
};

} // namespace lumetra::test
