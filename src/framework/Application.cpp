#include "framework/Application.h"

namespace lumetra {

Application* Application::current_ = nullptr;

Application::Application(const char* name) : name_(name) {
    current_ = this;
}

Application::~Application() {
    if (current_ == this)
        current_ = nullptr;
}

int Application::Run(HINSTANCE instance) {
    instance_ = instance;
    InitInstance();
    return 0;
}

bool Application::InitInstance() {
    return false;
}

bool Application::OnCommand(int id) {
    if (id == IdHelp) {
        OnHelp();
        return true;
    }
    return false;
}

void Application::OnHelp() {
    ::MessageBoxA(mainWindow_, (name_ + " has no help file installed.").c_str(), name_.c_str(),
                  MB_OK | MB_ICONINFORMATION);
}

HINSTANCE ResourceInstance() {
    return ::GetModuleHandleA(nullptr);
}

int AppMessageBox(HWND owner, const std::string& text, UINT flags) {
    const Application* app = Application::Current();
    const char* caption = app ? app->Name().c_str() : "Lumetra";
    return ::MessageBoxA(owner, text.c_str(), caption, flags);
}

} // namespace lumetra
