#include "StartProcess.h"

#include <algorithm>
#include <cstring>

namespace lumetra::test {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The current environment block with `extra` set over it (names compared as Windows does).
std::vector<char> EnvironmentBlock(const ChildProcess::Environment& extra) {
    std::vector<char> block;
    if (char* current = ::GetEnvironmentStringsA()) {
        for (const char* entry = current; *entry; entry += std::strlen(entry) + 1) {
            const std::string text(entry);
            const std::string name = text.substr(0, text.find('=', 1));
            const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& value) {
                return EqualNoCase(value.first, name);
            });
            if (!replaced)
                block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
        }
        ::FreeEnvironmentStringsA(current);
    }
    for (const auto& [name, value] : extra) {
        const std::string entry = name + "=" + value;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back('\0');
    return block;
}

} // namespace

ChildProcess::~ChildProcess() {
    Kill();
    Detach();
}

bool ChildProcess::Start(std::string commandLine, const Environment& extraEnvironment,
                         const std::string& workingFolder, HANDLE output) {
    Kill();
    Detach();
    std::vector<char> environment;
    if (!extraEnvironment.empty())
        environment = EnvironmentBlock(extraEnvironment);
    for (int attempt = 0; attempt < 5; ++attempt) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (output) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = output;
        }
        info_ = PROCESS_INFORMATION{};
        if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr,
                             output ? CREATE_NO_WINDOW : 0,
                             environment.empty() ? nullptr : environment.data(),
                             workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_))
            return true;
        info_ = PROCESS_INFORMATION{};
        if (::GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
        ::Sleep(200);
    }
    return false;
}

bool ChildProcess::Running() const {
    return info_.hProcess && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return info_.hProcess && ::WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (info_.hProcess)
        ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void ChildProcess::Kill() {
    if (Running()) {
        ::TerminateProcess(info_.hProcess, 99);
        ::WaitForSingleObject(info_.hProcess, 5000);
    }
}

void ChildProcess::Detach() {
    if (info_.hThread)
        ::CloseHandle(info_.hThread);
    if (info_.hProcess)
        ::CloseHandle(info_.hProcess);
    info_ = PROCESS_INFORMATION{};
}

} // namespace lumetra::test
