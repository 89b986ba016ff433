// lumetra-web: serves the newest image Lumetra publishes in its shared-memory block, until Ctrl+C
// or a close request (WM_CLOSE to its hidden window, as taskkill and the uninstaller send).
#include "web/HttpServer.h"
#include "web/ImageWatcher.h"
#include "web/PublishedFile.h"
#include "web/WebOptions.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

HANDLE stopRequested = nullptr; // set by Ctrl+C, a console close or WM_CLOSE
HANDLE stopped = nullptr;       // set once the service has shut down

BOOL WINAPI OnConsoleControl(DWORD) {
    ::SetEvent(stopRequested);
    // For a closing console the process ends when this returns: let the shutdown finish first.
    ::WaitForSingleObject(stopped, 5000);
    return TRUE;
}

LRESULT CALLBACK CloseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE || (message == WM_ENDSESSION && wParam)) {
        ::SetEvent(stopRequested);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A hidden top-level window that turns a close request into a stop. Without a desktop (Wine with
// no display) there is none, and Ctrl+C alone stops the service.
HWND MakeCloseWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CloseWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumetraWebService";
    ::RegisterClassW(&windowClass);
    return ::CreateWindowExW(0, windowClass.lpszClassName, L"Lumetra web service", WS_OVERLAPPED, 0, 0, 0, 0,
                             nullptr, nullptr, windowClass.hInstance, nullptr);
}

std::vector<std::string> Arguments() {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(lumetra::web::Utf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void WaitForStopRequest() {
    for (;;) {
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &stopRequested, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0)
            return;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return;
            ::DispatchMessageW(&message);
        }
    }
}

} // namespace

int main() {
    using namespace lumetra::web;
    WebOptions options;
    const std::string problem = ParseWebOptions(Arguments(), options);
    if (!problem.empty() || options.showHelp) {
        if (!problem.empty())
            std::fprintf(stderr, "lumetra-web: %s\n\n", problem.c_str());
        std::fputs(kWebUsage, problem.empty() ? stdout : stderr);
        return problem.empty() ? 0 : 2;
    }

    stopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The window first: whoever sees the service answer can also ask it to close.
    const HWND closeWindow = MakeCloseWindow();
    auto hub = std::make_shared<ImageHub>();
    ImageWatcher watcher(hub);
    watcher.Start();
    HttpServer server(options, hub);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "lumetra-web: %s\n", error.c_str());
        return 1;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    std::printf("Lumetra web service at %s\n", server.Address().c_str());
    if (!options.password.empty())
        std::printf("A password is needed (any user name).\n");
    std::printf("%sCtrl+C stops it.\n",
                IsLoopbackAddress(options.bindAddress) ? "Only this machine can connect. " : "");
    std::fflush(stdout);

    WaitForStopRequest();
    server.Stop();
    hub->Stop();
    watcher.Stop();
    if (closeWindow)
        ::DestroyWindow(closeWindow);
    std::printf("Lumetra web service stopped.\n");
    std::fflush(stdout);
    ::SetEvent(stopped);
    return 0;
}
