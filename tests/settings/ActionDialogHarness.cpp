#include "ActionDialogHarness.h"

#include "framework/Application.h"

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <atomic>

namespace lumetra::test {

namespace {
Application theApplication("Lumetra");

class GdiplusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

  private:
    ULONG_PTR token_ = 0;
};
[[maybe_unused]] ::testing::Environment* const gdiplus =
    ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);
} // namespace

CamActionDialog* OpenCamera(const std::string& name, MirrorSwitch* mirror, ActionSession* session,
                            int cameraIndex) {
    auto* dialog = new CamActionDialog(mirror, [] { return FixedClock; });
    if (session)
        dialog->SetSession(session);
    dialog->SetCameraIndex(cameraIndex);
    dialog->SetCameraName(name);
    ::ShowWindow(dialog->GetSafeHwnd(), SW_SHOW);
    return dialog;
}

bool CloseWithEscape(HWND window) {
    PressKey(::GetDlgItem(window, cam_action_ids::CameraName), VK_ESCAPE);
    return PumpUntil([&] { return !::IsWindow(window); }, 5000);
}

const OverlaySettings& Published(int cameraIndex) {
    return CameraSlotAt(cameraIndex).callback.overlay;
}

std::string TypeExpectingBox(HWND window, int id, const std::string& text) {
    std::string boxText;
    Driver driver([&] { boxText = AnswerMessageBox("Lumetra"); });
    SetItemText(window, id, text);
    driver.Join();
    return boxText;
}

bool ClickAndAnswer(HWND window, int id, const std::function<void()>& answer, DWORD timeoutMs) {
    std::atomic<bool> done{false};
    Driver driver([&] {
        answer();
        done = true;
    });
    SendClick(window, id); // returns with the handler, whose boxes the driver answers
    const bool finished = PumpUntil([&] { return done.load(); }, timeoutMs);
    driver.Join();
    return finished;
}

} // namespace lumetra::test
