#include "TestCameras.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumetra::test {

namespace {

const HRESULT kNotLoaded = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

template <typename Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

std::wstring TestCameras::BuildDirectory() {
    const DWORD size = GetEnvironmentVariableW(L"LUMETRA_BUILD_DIR", nullptr, 0);
    if (size == 0)
        return {};
    std::wstring path(size, L'\0');
    path.resize(GetEnvironmentVariableW(L"LUMETRA_BUILD_DIR", path.data(), size));
    if (!path.empty() && path[0] == L'/') {
        // A Linux path set by ctest: Wine shows the Linux root as drive Z:.
        for (wchar_t& c : path)
            if (c == L'/')
                c = L'\\';
        path = L"Z:" + path;
    }
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

TestCameras::TestCameras() {
    const std::wstring buildDirectory = BuildDirectory();
    if (buildDirectory.empty())
        return;
    dllPath_ = buildDirectory + L"\\testcam\\lumetra_testcam.dll";
    module_ = LoadLibraryW(dllPath_.c_str());
    if (!module_)
        return;
    register_ = Export<NameFunction>(module_, "TestCamRegister");
    unregister_ = Export<NameFunction>(module_, "TestCamUnregister");
    unregisterAll_ = Export<PlainFunction>(module_, "TestCamUnregisterAll");
    unplug_ = Export<NameFunction>(module_, "TestCamUnplug");
    replug_ = Export<NameFunction>(module_, "TestCamReplug");
    canUnloadNow_ = Export<PlainFunction>(module_, "DllCanUnloadNow");
    registerServer_ = Export<PlainFunction>(module_, "DllRegisterServer");
    setScene_ = Export<SceneFunction>(module_, "TestCamSetScene");
}

TestCameras::~TestCameras() {
    if (module_)
        FreeLibrary(module_);
}

bool TestCameras::Register(const std::wstring& friendlyName) {
    lastResult_ = register_ ? register_(friendlyName.c_str()) : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::Unregister(const std::wstring& friendlyName) {
    lastResult_ = unregister_ ? unregister_(friendlyName.c_str()) : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::UnregisterAll() {
    lastResult_ = unregisterAll_ ? unregisterAll_() : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::RegisterServer() {
    lastResult_ = registerServer_ ? registerServer_() : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::Unplug(const std::wstring& friendlyName) {
    lastResult_ = unplug_ ? unplug_(friendlyName.c_str()) : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::Replug(const std::wstring& friendlyName) {
    lastResult_ = replug_ ? replug_(friendlyName.c_str()) : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

bool TestCameras::Register(const std::string& friendlyName) {
    return Register(Widen(friendlyName));
}
bool TestCameras::Unregister(const std::string& friendlyName) {
    return Unregister(Widen(friendlyName));
}
bool TestCameras::Unplug(const std::string& friendlyName) {
    return Unplug(Widen(friendlyName));
}
bool TestCameras::Replug(const std::string& friendlyName) {
    return Replug(Widen(friendlyName));
}

bool TestCameras::SetScene(const std::string& friendlyName, DWORD scene) {
    lastResult_ = setScene_ ? setScene_(Widen(friendlyName).c_str(), scene) : kNotLoaded;
    return SUCCEEDED(lastResult_);
}

HRESULT TestCameras::CanUnloadNow() const {
    return canUnloadNow_ ? canUnloadNow_() : kNotLoaded;
}

ScopedTestCamera::ScopedTestCamera(TestCameras& cameras, std::string friendlyName)
    : cameras_(cameras), name_(std::move(friendlyName)), registered_(cameras_.Register(name_)) {}

ScopedTestCamera::~ScopedTestCamera() {
    if (registered_)
        cameras_.Unregister(name_);
}

PreparedCamerasRestorer::~PreparedCamerasRestorer() {
    cameras_.UnregisterAll();
    if (!cameras_.RegisterServer())
        ADD_FAILURE() << "the prefix's test camera could not be registered again, error 0x" << std::hex
                      << cameras_.lastResult();
}

} // namespace lumetra::test
