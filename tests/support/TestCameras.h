#pragma once
// Registers test-pattern cameras for test programs, through the exports of lumetra_testcam.dll
// found at %LUMETRA_BUILD_DIR%\testcam\lumetra_testcam.dll.

#include <windows.h>

#include <string>

namespace lumetra::test {

class TestCameras {
  public:
    TestCameras(); // loads the DLL; check loaded()
    ~TestCameras();
    TestCameras(const TestCameras&) = delete;
    TestCameras& operator=(const TestCameras&) = delete;

    bool loaded() const {
        return register_ && unregister_ && unregisterAll_ && unplug_ && replug_ && registerServer_;
    }
    // Windows path of the DLL (Z:\...), empty when LUMETRA_BUILD_DIR is not set.
    const std::wstring& dllPath() const { return dllPath_; }
    HMODULE module() const { return module_; }

    bool Register(const std::wstring& friendlyName);
    bool Unregister(const std::wstring& friendlyName);
    bool UnregisterAll();
    // DllRegisterServer, as prepare-prefix.sh calls it: the camera class and "Lumetra Test Camera".
    bool RegisterServer();
    // Unplug: the name leaves the category and every running camera of that name, in any process,
    // stops delivering and reports EC_DEVICE_LOST, until Replug registers the name again.
    bool Unplug(const std::wstring& friendlyName);
    bool Replug(const std::wstring& friendlyName);
    // Narrow names, converted with the process's ANSI code page as the application converts them
    // (UTF-8 in the programs that carry the application's manifest).
    bool Register(const std::string& friendlyName);
    bool Unregister(const std::string& friendlyName);
    bool Unplug(const std::string& friendlyName);
    bool Replug(const std::string& friendlyName);
    // What every camera of this name shows, in any process: the kScene flags of testcam's
    // TestPattern.h (a still picture, a block moving in it, light fading); 0 is the moving pattern.
    bool SetScene(const std::string& friendlyName, DWORD scene);
    // The DLL's DllCanUnloadNow: S_OK once no object of it is alive.
    HRESULT CanUnloadNow() const;

    HRESULT lastResult() const { return lastResult_; }

    // Path of the build directory as a Windows path (Z:\... from the Linux path).
    static std::wstring BuildDirectory();

  private:
    using NameFunction = HRESULT(WINAPI*)(const wchar_t*);
    using PlainFunction = HRESULT(WINAPI*)();
    using SceneFunction = HRESULT(WINAPI*)(const wchar_t*, DWORD);

    std::wstring dllPath_;
    HMODULE module_ = nullptr;
    NameFunction register_ = nullptr;
    NameFunction unregister_ = nullptr;
    NameFunction unplug_ = nullptr;
    NameFunction replug_ = nullptr;
    PlainFunction unregisterAll_ = nullptr;
    PlainFunction canUnloadNow_ = nullptr;
    PlainFunction registerServer_ = nullptr;
    SceneFunction setScene_ = nullptr;
    HRESULT lastResult_ = S_OK;
};

// Registers a camera for the length of a scope.
class ScopedTestCamera {
  public:
    ScopedTestCamera(TestCameras& cameras, std::string friendlyName);
    ~ScopedTestCamera();
    ScopedTestCamera(const ScopedTestCamera&) = delete;
    ScopedTestCamera& operator=(const ScopedTestCamera&) = delete;

    bool registered() const { return registered_; }
    const std::string& name() const { return name_; }

  private:
    TestCameras& cameras_;
    std::string name_;
    bool registered_;
};

// For tests that unregister every camera (their programs run alone, RUN_SERIAL): when it goes,
// however the test ends (an ASSERT that returns early too), the prefix's cameras are as
// prepare-prefix.sh left them: every test camera unregistered, then DllRegisterServer.
class PreparedCamerasRestorer {
  public:
    explicit PreparedCamerasRestorer(TestCameras& cameras) : cameras_(cameras) {}
    ~PreparedCamerasRestorer();
    PreparedCamerasRestorer(const PreparedCamerasRestorer&) = delete;
    PreparedCamerasRestorer& operator=(const PreparedCamerasRestorer&) = delete;

  private:
    TestCameras& cameras_;
};

std::wstring Widen(const std::string& text);  // the process's ANSI code page
std::string Narrow(const std::wstring& text); // the process's ANSI code page

} // namespace lumetra::test
