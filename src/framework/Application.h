#pragma once
// The application object: one per process, reached through Application::Current().

#include "framework/CommandIds.h"

#include <windows.h>

#include <string>

namespace lumetra {

constexpr int IdHelp = IDC_HELP_COMMAND;

class Application {
  public:
    explicit Application(const char* name);
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Current() { return current_; }

    // Called by WinMain. Runs InitInstance; returns the process exit code.
    int Run(HINSTANCE instance);
    virtual bool InitInstance();

    // Routes a command no window handled (the help command, for instance).
    virtual bool OnCommand(int id);
    // The standard help: a short description of the program.
    virtual void OnHelp();

    void SetRegistryKey(const char* key) { registryKey_ = key; }
    const std::string& RegistryKey() const { return registryKey_; }
    const std::string& Name() const { return name_; }
    HINSTANCE Instance() const { return instance_; }
    HWND MainWindow() const { return mainWindow_; }
    void SetMainWindow(HWND window) { mainWindow_ = window; }

  protected:
    HINSTANCE instance_ = nullptr;

  private:
    static Application* current_;
    std::string name_;
    std::string registryKey_;
    HWND mainWindow_ = nullptr;
};

// The module whose resources the program's templates come from.
HINSTANCE ResourceInstance();

// A message box captioned with the application's name, owned by `owner`.
int AppMessageBox(HWND owner, const std::string& text, UINT flags = MB_OK | MB_ICONEXCLAMATION);

} // namespace lumetra
