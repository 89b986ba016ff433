#include "WebService.h"

#include "WebClient.h"

#include <fstream>
#include <iterator>

namespace lumetra::test {
namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindServiceWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && std::string(className) == "LumetraWebService") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::string WebServiceProgram() {
    if (const char* build = std::getenv("LUMETRA_BUILD_DIR")) {
        std::string path = build;
        if (!path.empty() && path[0] == '/')
            path = "Z:" + path;
        for (char& c : path)
            c = c == '/' ? '\\' : c;
        return path + "\\src\\web\\lumetra-web.exe";
    }
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder = self;
    folder.erase(folder.find_last_of('\\'));
    return folder + "\\..\\src\\web\\lumetra-web.exe";
}

WebServiceProcess::~WebServiceProcess() {
    Kill();
    if (!outputPath_.empty())
        ::DeleteFileA(outputPath_.c_str());
}

bool WebServiceProcess::Start(const std::string& arguments, unsigned short port, const std::string& program) {
    char folder[MAX_PATH] = {}, file[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    ::GetTempFileNameA(folder, "lwb", 0, file);
    outputPath_ = file;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = ::CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string commandLine = "\"" + (program.empty() ? WebServiceProgram() : program) + "\" " + arguments;
    const bool started = output != INVALID_HANDLE_VALUE && process_.Start(commandLine, {}, {}, output);
    if (output != INVALID_HANDLE_VALUE)
        ::CloseHandle(output);
    if (!started || port == 0)
        return started;
    for (int i = 0; i < 200; ++i) {
        if (HttpGet(port, "/status.json").status != 0)
            return true;
        if (process_.WaitForExit(50))
            return false;
    }
    return false;
}

bool WebServiceProcess::RequestClose() {
    WindowSearch search{process_.Id(), nullptr};
    for (int i = 0; i < 40 && !search.found; ++i) {
        ::EnumWindows(FindServiceWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            ::Sleep(50);
    }
    return search.found && ::PostMessageA(search.found, WM_CLOSE, 0, 0);
}

bool WebServiceProcess::WaitForExit(DWORD timeoutMs) {
    return process_.WaitForExit(timeoutMs);
}

DWORD WebServiceProcess::ExitCode() const {
    return process_.ExitCode();
}

std::string WebServiceProcess::Output() const {
    std::ifstream in(outputPath_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WebServiceProcess::Kill() {
    process_.Kill();
    process_.Detach();
}

} // namespace lumetra::test
