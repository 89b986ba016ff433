// "Paint watermark in polygon" and the polygon dialog "Special Water Mark ".
#include "ActionDialogHarness.h"
#include "dialogs/PolygonWatermarkDialog.h"

#include <gtest/gtest.h>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;
namespace polygon = lumetra::special_watermark_ids;

namespace {

constexpr const char* PolygonCaption = "Special Water Mark ";

// Types into the polygon dialog's sides edit from the driver thread; when the change shows a
// validation box, answers it and returns its text.
std::string TypeSides(HWND box, const std::string& text, bool expectMessage) {
    std::thread typist([&] { SetItemText(box, polygon::PolygonSides, text); });
    std::string message = expectMessage ? AnswerMessageBox("Lumetra") : "";
    typist.join();
    return message;
}

// Checks polygon mode on the action dialog as the user clicks it; `answer` handles the dialog.
bool ClickPolygon(HWND window, const std::function<void()>& answer) {
    ::CheckDlgButton(window, ids::Polygon, IsChecked(window, ids::Polygon) ? BST_UNCHECKED : BST_CHECKED);
    return ClickAndAnswer(window, ids::Polygon, answer);
}

} // namespace

TEST(PolygonDialog, OpensCheckedWithTheSidesAndAcceptsThreeAndTwentyOne) {
    for (int accepted : {3, 21}) {
        PolygonWatermarkDialog dialog(MinPolygonSides, MaxPolygonSides);
        dialog.check = 1;
        dialog.sides = 5;
        bool openedChecked = false;
        std::string shownSides;
        Driver driver([&] {
            HWND box = WaitForWindow(PolygonCaption);
            ASSERT_NE(box, nullptr);
            openedChecked = IsChecked(box, polygon::PaintInPolygon);
            shownSides = GetItemText(box, polygon::PolygonSides);
            // "21" passes through "2" while typed; the whole number is set at once here.
            TypeSides(box, std::to_string(accepted), false);
            Answer(box, IDOK);
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        driver.Join();
        EXPECT_TRUE(openedChecked);
        EXPECT_EQ(shownSides, "5");
        EXPECT_EQ(dialog.sides, accepted);
        EXPECT_EQ(dialog.check, 1);
    }
}

TEST(PolygonDialog, RefusesTwoAndTwentyTwoAndStaysOpen) {
    PolygonWatermarkDialog dialog(MinPolygonSides, MaxPolygonSides);
    dialog.check = 1;
    dialog.sides = 5;
    std::string onTwo, onTwentyTwo, onOkWithTwentyTwo, onEmpty;
    bool stillOpen = false;
    Driver driver([&] {
        HWND box = WaitForWindow(PolygonCaption);
        ASSERT_NE(box, nullptr);
        onTwo = TypeSides(box, "2", true);
        onTwentyTwo = TypeSides(box, "22", true);
        Click(box, IDOK);
        onOkWithTwentyTwo = AnswerMessageBox("Lumetra");
        AwaitMessageLoop(box); // the OK handler has ended
        stillOpen = ::IsWindowVisible(box) != FALSE;
        onEmpty = TypeSides(box, "", true);
        TypeSides(box, "6", false);
        Answer(box, IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    driver.Join();
    EXPECT_EQ(onTwo, "Please enter an integer between 3 and 21.");
    EXPECT_EQ(onTwentyTwo, "Please enter an integer between 3 and 21.");
    EXPECT_EQ(onOkWithTwentyTwo, "Please enter an integer between 3 and 21.");
    EXPECT_EQ(onEmpty, "Please enter an integer.");
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialog.sides, 6);
}

TEST(PolygonFlow, OkSetsTheSidesCancelAndUncheckTurnPolygonModeOff) {
    ScopedCameraKey camera("polygon");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::WatermarkWidth, "90"); // typed, no change handler

    std::string shownSides;
    ASSERT_TRUE(ClickPolygon(window, [&] {
        HWND box = WaitForWindow(PolygonCaption);
        ASSERT_NE(box, nullptr);
        shownSides = GetItemText(box, polygon::PolygonSides);
        TypeSides(box, "8", false);
        Answer(box, IDOK);
        WaitForWindowGone(box);
    }));
    EXPECT_EQ(shownSides, "5");
    EXPECT_TRUE(IsChecked(window, ids::Polygon));
    EXPECT_EQ(Published().polygonWatermark, 1);
    EXPECT_EQ(Published().polygonSides, 8);
    EXPECT_EQ(Item(window, ids::WatermarkWidth), "90");
    EXPECT_EQ(Published().watermarkWidth, 90);

    // Unchecking opens no dialog.
    ::CheckDlgButton(window, ids::Polygon, BST_UNCHECKED);
    SendClick(window, ids::Polygon);
    EXPECT_TRUE(FindWindows(PolygonCaption).empty());
    EXPECT_EQ(Published().polygonWatermark, 0);
    EXPECT_EQ(Published().polygonSides, 8);

    // Cancel leaves it unchecked and keeps the sides.
    ASSERT_TRUE(ClickPolygon(window, [&] {
        HWND box = WaitForWindow(PolygonCaption);
        ASSERT_NE(box, nullptr);
        shownSides = GetItemText(box, polygon::PolygonSides);
        TypeSides(box, "12", false);
        Answer(box, IDCANCEL);
        WaitForWindowGone(box);
    }));
    EXPECT_EQ(shownSides, "8");
    EXPECT_FALSE(IsChecked(window, ids::Polygon));
    EXPECT_EQ(Published().polygonWatermark, 0);
    EXPECT_EQ(Published().polygonSides, 8);

    // OK with the box in the polygon dialog unchecked: off, but the sides are taken.
    ASSERT_TRUE(ClickPolygon(window, [&] {
        HWND box = WaitForWindow(PolygonCaption);
        ASSERT_NE(box, nullptr);
        ::SendDlgItemMessageA(box, polygon::PaintInPolygon, BM_SETCHECK, BST_UNCHECKED, 0);
        TypeSides(box, "4", false);
        Answer(box, IDOK);
        WaitForWindowGone(box);
    }));
    EXPECT_FALSE(IsChecked(window, ids::Polygon));
    EXPECT_EQ(Published().polygonWatermark, 0);
    EXPECT_EQ(Published().polygonSides, 4);

    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("PLS").Dword(), 4u);
    EXPECT_EQ(camera.Read("UPO").Dword(), 0u);

    // The sides come back with the camera.
    HWND reopened = OpenCamera(camera.Name())->GetSafeHwnd();
    EXPECT_EQ(Published().polygonSides, 4);
    ASSERT_TRUE(CloseWithEscape(reopened));
}
