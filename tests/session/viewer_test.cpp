// The saved-image viewer of a session on a real test camera: opened by the first save with View
// After Saving on, following later saves, reading the file at every paint, closed by Enter,
// Cancel and the Live View.
#include "SessionHarness.h"
#include "TestCameras.h"
#include "TestPattern.h"
#include "WindowDriver.h"
#include "dialogs/ImageViewer.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

const std::string kCamera = "Viewer Cam";
// The red reference patch, in the viewer's client area (the image is drawn at the origin).
const testcam::ReferencePatch& kRed = testcam::kReferencePatches[0];
const int kX = kRed.x + kRed.size / 2;
const int kY = kRed.y + kRed.size / 2;

class ViewerTest : public OneCameraTest {
  protected:
    ViewerTest() : OneCameraTest(kCamera) {}
    void SetUp() override {
        OneCameraTest::SetUp();
        if (HasFatalFailure())
            return;
        session = main.Open(kCamera);
        ASSERT_NE(session, nullptr);
        action = session->ActionDialog();
        SetEdit(action, ids::Directory, folder.path());
    }
    // Presses "Save Current Image" with this file name and waits until the image is written.
    void Save(const std::string& name) {
        SetEdit(action, ids::FileName, name);
        const std::uint64_t before = session->ImagesWritten();
        PressButton(action, ids::SaveCurrentImage);
        ASSERT_TRUE(PumpUntil([&] { return session->ImagesWritten() > before; }, 5000));
    }
    // Whether the viewer comes to show `colour` at the patch (it paints as its messages are handled).
    static bool Shows(HWND viewer, COLORREF colour) {
        return PumpUntil([&] { return Near(ClientPixel(viewer, kX, kY), colour, 40); }, 3000);
    }
    static HWND Viewer() {
        const std::vector<HWND> viewers = FindWindows("Image");
        return viewers.size() == 1 ? viewers[0] : nullptr;
    }

    TempFolder folder{"viewer"};
    MainWindow main;
    LiveView* session = nullptr;
    CamActionDialog* action = nullptr;
};

TEST_F(ViewerTest, WithViewAfterSavingOffNoViewerOpens) {
    Save("plain");
    EXPECT_EQ(session->Viewer(), nullptr);
    EXPECT_TRUE(FindWindows("Image").empty());
}

TEST_F(ViewerTest, TheFirstSaveOpensItAndEachPaintShowsTheFileOfTheLastSave) {
    SetCheck(action, ids::ViewAfterSaving, true);
    Save("first");
    HWND viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_NE(session->Viewer(), nullptr);
    EXPECT_EQ(session->Viewer()->ImagePath(), folder.File("first.jpg"));
    EXPECT_TRUE(Shows(viewer, RGB(255, 0, 0))) << std::hex << ClientPixel(viewer, kX, kY);

    // Each paint reads the file again.
    ASSERT_TRUE(WriteSolidJpeg(folder.File("first.jpg"), 640, 480, RGB(0, 200, 0)));
    ::InvalidateRect(viewer, nullptr, TRUE);
    EXPECT_TRUE(Shows(viewer, RGB(0, 200, 0)));

    // The next save goes to the open viewer, which repaints by itself with the new file.
    Save("second");
    EXPECT_EQ(Viewer(), viewer);
    EXPECT_EQ(session->Viewer()->ImagePath(), folder.File("second.jpg"));
    EXPECT_TRUE(Shows(viewer, RGB(255, 0, 0)));
    ASSERT_TRUE(WriteSolidJpeg(folder.File("second.jpg"), 640, 480, RGB(0, 0, 200)));
    ::InvalidateRect(viewer, nullptr, TRUE);
    EXPECT_TRUE(Shows(viewer, RGB(0, 0, 200)));
}

TEST_F(ViewerTest, AfterCancelTheNextSaveOpensAFreshViewer) {
    SetCheck(action, ids::ViewAfterSaving, true);
    Save("one");
    HWND first = Viewer();
    ASSERT_NE(first, nullptr);
    ::SendMessageA(first, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(first); }, 3000));
    EXPECT_EQ(session->Viewer(), nullptr);

    Save("two");
    HWND fresh = Viewer();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, first);
    EXPECT_TRUE(Shows(fresh, RGB(255, 0, 0)));
}

TEST_F(ViewerTest, EnterClosesItLikeCancel) {
    SetCheck(action, ids::ViewAfterSaving, true);
    Save("enter");
    HWND viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ::SetFocus(viewer); // the focus away from its Cancel button
    ::SendMessageA(viewer, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(viewer); }, 3000));
    EXPECT_EQ(session->Viewer(), nullptr);
    Save("again");
    EXPECT_NE(Viewer(), nullptr);
}

TEST_F(ViewerTest, ClosingTheLiveViewClosesIt) {
    SetCheck(action, ids::ViewAfterSaving, true);
    Save("last");
    HWND viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ::SendMessageA(session->GetSafeHwnd(), WM_CLOSE, 0, 0); // posts its Cancel command
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(viewer); }, 3000));
    EXPECT_TRUE(FindWindows("Image").empty());
}

TEST_F(ViewerTest, APathOutsideAsciiIsReadThroughTheCodePage) {
    SetCheck(action, ids::ViewAfterSaving, true);
    const std::string name = "price\x80"; // the euro sign in code page 1252, U+20AC
    Save(name);
    HWND viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(FileExists(folder.File(name + ".jpg")));
    EXPECT_TRUE(Shows(viewer, RGB(255, 0, 0)));
}

} // namespace
