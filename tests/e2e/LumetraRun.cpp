#include "LumetraRun.h"

#include "Evidence.h"

#include <algorithm>

namespace lumetra::e2e {

std::string TestedProgram() {
    return ToWindowsPath(LUMETRA_E2E_APP_DIR) + "\\lumetra.exe";
}

std::string FreshWorkFolder(const std::string& name) {
    ::CreateDirectoryA("Z:\\tmp\\lumetra-e2e", nullptr);
    const std::string folder = "Z:\\tmp\\lumetra-e2e\\" + name;
    MakeEmptyDirectory(folder);
    return folder;
}

LumetraRun::~LumetraRun() {
    process_.Kill();
}

bool LumetraRun::Start(const std::string& exePath, const std::string& mailLog) {
    std::vector<std::pair<std::string, std::string>> environment{{"WINEDLLOVERRIDES", "mapi32=n,b"}};
    if (!mailLog.empty())
        environment.emplace_back("LUMETRA_MAPI_LOG", mailLog);
    if (!process_.Start("\"" + exePath + "\"", environment, exePath.substr(0, exePath.find_last_of('\\'))))
        return false;
    cameraList_ = WaitForWindow(process_.Id(), "Lumetra", ids::DeviceList, 30000);
    return cameraList_ != nullptr;
}

CameraWindows LumetraRun::Open(const std::string& name, std::vector<MessageBoxSeen>* boxes) {
    if (!SelectCamera(cameraList_, name))
        Type(cameraList_, ids::CamEdit, name);
    PressLater(cameraList_, ids::OpenCam);
    const DWORD start = ::GetTickCount();
    CameraWindows windows;
    while (::GetTickCount() - start < 20000) {
        if (auto box = WaitForMessageBox(process_.Id(), 100)) {
            if (boxes)
                boxes->push_back(*box);
            AnswerBox(*box);
            continue;
        }
        windows = WaitForCamera(process_.Id(), name, 0);
        if (windows.liveView && windows.camAction)
            break;
    }
    return windows;
}

bool LumetraRun::Configure(HWND camAction, const CameraSetup& setup) {
    bool typed = true;
    auto text = [&](int id, const std::string& value) {
        if (!value.empty())
            typed = Type(camAction, id, value) && ItemText(camAction, id) == value && typed;
    };
    auto number = [&](int id, int value) { text(id, std::to_string(value)); };
    text(ids::Directory, setup.directory);
    text(ids::FileName, setup.fileName);
    text(ids::Text, setup.text);
    text(ids::WatermarkPath, setup.watermarkPath);
    number(ids::WatermarkX, setup.watermarkX);
    number(ids::WatermarkY, setup.watermarkY);
    number(ids::WatermarkWidth, setup.watermarkWidth);
    number(ids::WatermarkHeight, setup.watermarkHeight);
    number(ids::TextX, setup.textX);
    number(ids::TextY, setup.textY);
    text(ids::FtpUrl, setup.ftpServer);
    text(ids::FtpPath, setup.ftpPath);
    text(ids::FtpUser, setup.ftpUser);
    text(ids::FtpPassword, setup.ftpPassword);
    text(ids::EmailAddresses, setup.emailAddresses);
    typed = SetChecked(camAction, ids::UseWatermark, setup.useWatermark) && typed;
    typed = SetChecked(camAction, ids::MirrorToHttp, setup.mirror) && typed;
    return typed;
}

bool LumetraRun::CloseWith(HWND window, const CameraWindows& camera) {
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitForGone(camera.liveView) && WaitForGone(camera.camAction);
}

bool LumetraRun::Exit(DWORD timeoutMs) {
    PressLater(cameraList_, ids::Exit);
    return process_.WaitForExit(timeoutMs);
}

bool WaitForImage(const std::string& path, DWORD timeoutMs) {
    return WaitUntil([&] { return LoadPicture(path).has_value(); }, timeoutMs);
}

} // namespace lumetra::e2e
