#pragma once
// What the session tests share: the program's libraries started as the program starts them, a camera
// list run modelessly on the test thread, and readers for files and the screen.

#include "CameraKeys.h"
#include "Colours.h"
#include "ProcessResources.h"
#include "TempFiles.h"
#include "TestCameras.h"
#include "app/CameraListDialog.h"
#include "session/LiveView.h"
#include "settings/CamActionDialog.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumetra::test {

// The program's start-up once per test program: application object, common controls, GDI+.
void StartProgramLibraries();

// The camera list, created modelessly on the calling thread, which pumps its messages.
class MainWindow {
  public:
    // keepTimer false: the camera timer is killed and the test ticks by itself.
    explicit MainWindow(bool keepTimer = false);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    CameraListDialog& dialog() { return dialog_; }
    HWND hwnd() const { return dialog_.GetSafeHwnd(); }

    // Types the name and presses Open Cam; returns the new session (null when none was made).
    // Set expectErrorBox for a name that matches no device: its "Error!" box is answered.
    LiveView* Open(const std::string& name, bool expectErrorBox = false);
    // Exit (OK) of the camera list.
    void Exit();
    // One tick of the camera timer over the open sessions (the test ticks when the timer is killed).
    void Tick();

  private:
    CameraListDialog dialog_;
};

// A test with a registered test camera of its own, whose stored settings are removed before each
// test; the program's libraries are started once.
class OneCameraTest : public ::testing::Test {
  protected:
    explicit OneCameraTest(const std::string& cameraName) : camera{cameras, cameraName}, name_(cameraName) {}
    static void SetUpTestSuite() { StartProgramLibraries(); }
    void SetUp() override {
        ASSERT_TRUE(cameras.loaded());
        ASSERT_TRUE(camera.registered());
        DeleteCameraKey(name_);
    }

    TestCameras cameras;
    ScopedTestCamera camera;

  private:
    std::string name_;
};

// Controls of a CAM ACTION window, as a user sets them (the dialog is told as it is by the user).
void SetEdit(CamActionDialog* action, int id, const std::string& text);
void SetCheck(CamActionDialog* action, int id, bool checked);
void PressButton(CamActionDialog* action, int id);
// Picks the entry of that text in a drop-down list as a user does (closed list, arrow keys);
// false when the list holds no such entry.
bool ChooseInList(CamActionDialog* action, int id, const std::string& text);
// The entry a drop-down list shows.
std::string ShownInList(CamActionDialog* action, int id);

bool IsJpeg(const std::string& path);
// Width and height of an image file (GDI+); none when it cannot be read.
std::optional<std::pair<UINT, UINT>> ImageSizeOf(const std::string& path);
// Colour of one pixel of an image file (GDI+); false when it cannot be read.
bool ImagePixel(const std::string& path, int x, int y, COLORREF& colour);
// Writes a JPEG of one flat colour.
bool WriteSolidJpeg(const std::string& path, int width, int height, COLORREF colour);
// A pixel of a window's client area as shown on the screen.
COLORREF ClientPixel(HWND window, int x, int y);

// The shared-memory block of the HTTP mirror, as the service reads it ("" when missing).
std::string MirrorBlockText();
// The cameras shown on the web, as Lumetra's second block lists them; null when it holds no list.
nlohmann::json CamerasOnWeb();

} // namespace lumetra::test
