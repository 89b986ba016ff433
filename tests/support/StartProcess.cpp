#include "StartProcess.h"

namespace lumetra::test {

bool StartProcess(std::string commandLine, PROCESS_INFORMATION& process) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        process = PROCESS_INFORMATION{};
        if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
            return true;
        if (::GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
        ::Sleep(200);
    }
    return false;
}

} // namespace lumetra::test
