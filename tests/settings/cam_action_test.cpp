// The CAM ACTION dialog through its real window and the test prefix's registry: opening, saving,
// reopening, validation, keys, accessors and the owner's mirror switch.
#include "ActionDialogHarness.h"
#include "app/CameraListDialog.h"
#include "framework/DataExchange.h"
#include "session/LiveView.h"
#include "settings/CameraSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

const int EditsShowingZero[] = {ids::WatermarkX, ids::WatermarkY, ids::WatermarkWidth, ids::WatermarkHeight,
                                ids::HighRed,    ids::HighGreen,  ids::HighBlue,       ids::LowRed,
                                ids::LowGreen,   ids::LowBlue,    ids::TextX,          ids::TextY,
                                ids::BoxWidth,   ids::BoxDepth,   ids::EmailSeconds};
const int EmptyEdits[] = {ids::SaveSeconds, ids::FileName, ids::FtpUrl,        ids::Directory,
                          ids::FtpPassword, ids::FtpUser,  ids::FtpPath,       ids::WatermarkPath,
                          ids::Text,        ids::FontFace, ids::EmailAddresses};
const int Checks[] = {ids::SaveAuto,     ids::ViewAfterSaving, ids::AppendTime,   ids::FtpAuto,
                      ids::UseWatermark, ids::UseTransparent,  ids::Polygon,      ids::VerticalText,
                      ids::UseBox,       ids::EmailAuto,       ids::MirrorToHttp, ids::SaveOnMotion,
                      ids::ActiveFtp,    ids::TroubleMail};

struct TypedValue {
    int id;
    const char* text;
};
// A value for every edit, each different from its default.
const TypedValue EveryEdit[] = {
    {ids::SaveSeconds, "15"},
    {ids::FileName, "door"},
    {ids::FtpUrl, "127.0.0.1"},
    {ids::FtpSeconds, "45"},
    {ids::Directory, "C:\\cams"},
    {ids::FtpPassword, "secret"},
    {ids::FtpUser, "watcher"},
    {ids::FtpPath, "incoming"},
    {ids::WatermarkX, "-12"},
    {ids::WatermarkY, "34"},
    {ids::WatermarkWidth, "160"},
    {ids::WatermarkHeight, "120"},
    {ids::WatermarkPath, "C:\\marks\\logo.bmp"},
    {ids::HighRed, "250"},
    {ids::HighGreen, "251"},
    {ids::HighBlue, "252"},
    {ids::LowRed, "1"},
    {ids::LowGreen, "2"},
    {ids::LowBlue, "3"},
    {ids::TextX, "7"},
    {ids::TextY, "-8"},
    {ids::BoxWidth, "200"},
    {ids::BoxDepth, "60"},
    {ids::EmailSeconds, "300"},
    {ids::EmailAddresses, "a@example.com;b@example.com"},
    {ids::Text, "Front door\r\nsecond line"},
    {ids::MotionShare, "25"},
    {ids::PixelChange, "40"},
    {ids::MotionGap, "5"},
};

} // namespace

TEST(CamAction, AFirstOpenCreatesTheEmptyKeyAndShowsTheDefaults) {
    ScopedCameraKey camera("first");
    ASSERT_FALSE(camera.Exists());
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetText(window), "CAM ACTION");
    EXPECT_TRUE(camera.Exists());
    EXPECT_EQ(camera.ValueCount(), 0);

    EXPECT_EQ(Item(window, ids::CameraName), camera.Name());
    EXPECT_EQ(Item(window, ids::FtpSeconds), "30");
    EXPECT_EQ(Item(window, ids::MotionShare), "10");
    EXPECT_EQ(Item(window, ids::PixelChange), "25");
    EXPECT_EQ(Item(window, ids::MotionGap), "2");
    for (int id : EditsShowingZero)
        EXPECT_EQ(Item(window, id), "0") << "edit " << id;
    for (int id : EmptyEdits)
        EXPECT_EQ(Item(window, id), "") << "edit " << id;
    for (int id : Checks)
        EXPECT_FALSE(IsChecked(window, id)) << "check " << id;
    EXPECT_EQ(dialog->Settings().polygonSides, 5);
    EXPECT_EQ(Published().polygonSides, 5);
    EXPECT_EQ(Published().fontColour, 0u);
    EXPECT_EQ(dialog->SaveSeconds(), 0);
    EXPECT_EQ(dialog->FtpSeconds(), 30);
    EXPECT_EQ(dialog->EmailSeconds(), 0);
    EXPECT_EQ(dialog->Settings().mailMethod, MailThroughMailProgram); // passive FTP, no trouble mail: Checks

    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.ValueCount(), 55);
    EXPECT_EQ(camera.Read("FTO").Text(), "30");
    EXPECT_EQ(camera.Read("PLS").Dword(), 5u);
}

TEST(CamAction, EverySettingSurvivesEscapeAndReopenExceptTheSessionOnlyOnes) {
    ScopedCameraKey camera("every");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    for (const TypedValue& value : EveryEdit)
        SetItemText(window, value.id, value.text);
    // Checked without their click handlers (the polygon box would open its dialog).
    for (int id : Checks)
        ::CheckDlgButton(window, id, BST_CHECKED);
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("AUS").Dword(), 1u);
    // A CAM stored under the key never renames the camera opened with this name.
    ASSERT_TRUE(camera.WriteText("CAM", "Somebody else"));

    CamActionDialog* reopened = OpenCamera(camera.Name());
    window = reopened->GetSafeHwnd();
    EXPECT_EQ(Item(window, ids::CameraName), camera.Name());
    EXPECT_EQ(reopened->Settings().cameraName, camera.Name());
    for (const TypedValue& value : EveryEdit) {
        if (value.id == ids::FtpPassword)
            EXPECT_EQ(Item(window, value.id), "") << "the password is never stored";
        else
            EXPECT_EQ(Item(window, value.id), value.text) << "edit " << value.id;
    }
    for (int id : Checks) {
        const bool sessionOnly = id == ids::EmailAuto || id == ids::MirrorToHttp || id == ids::SaveAuto;
        EXPECT_EQ(IsChecked(window, id), !sessionOnly) << "check " << id;
    }
    EXPECT_EQ(reopened->SaveSeconds(), 15);
    EXPECT_EQ(reopened->FtpSeconds(), 45);
    EXPECT_EQ(reopened->EmailSeconds(), 300);
    EXPECT_EQ(reopened->EmailAddresses(), "a@example.com;b@example.com");
    const UploadRequest ftp = reopened->FtpRequest("C:\\a.jpg", "a.jpg");
    EXPECT_EQ(ftp.server, "127.0.0.1");
    EXPECT_EQ(ftp.directory, "incoming");
    EXPECT_EQ(ftp.user, "watcher");
    EXPECT_EQ(ftp.password, "");
    EXPECT_TRUE(ftp.activeMode);
    // Opening publishes the restored overlay at once.
    const OverlaySettings& overlay = Published();
    EXPECT_EQ(overlay.watermarkX, -12);
    EXPECT_EQ(overlay.watermarkHeight, 120);
    EXPECT_EQ(overlay.watermarkPath, "C:\\marks\\logo.bmp");
    EXPECT_EQ(overlay.highBlue, 252);
    EXPECT_EQ(overlay.lowRed, 1);
    EXPECT_EQ(overlay.textY, -8);
    EXPECT_EQ(overlay.useWatermark, 1);
    EXPECT_EQ(overlay.useTransparent, 1);
    EXPECT_EQ(overlay.polygonWatermark, 1);
    EXPECT_EQ(overlay.verticalText, 1);
    EXPECT_EQ(overlay.wrapInBox, 1);
    EXPECT_EQ(overlay.boxWidth, 200);
    EXPECT_EQ(overlay.boxDepth, 60);
    EXPECT_STREQ(overlay.text, "Front door\r\nsecond line");
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("CAM").Text(), camera.Name());
}

TEST(CamAction, RenamingInTheNameEditSavesUnderTheNewName) {
    ScopedCameraKey oldName("old");
    ScopedCameraKey newName("new");
    HWND window = OpenCamera(oldName.Name())->GetSafeHwnd();
    SetItemText(window, ids::FileName, "alpha");
    ASSERT_TRUE(CloseWithEscape(window));

    window = OpenCamera(oldName.Name())->GetSafeHwnd();
    SetItemText(window, ids::CameraName, newName.Name());
    SetItemText(window, ids::FileName, "beta");
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(oldName.Read("FIN").Text(), "alpha");
    EXPECT_EQ(newName.Read("FIN").Text(), "beta");
    EXPECT_EQ(newName.Read("CAM").Text(), newName.Name());

    window = OpenCamera(oldName.Name())->GetSafeHwnd();
    EXPECT_EQ(Item(window, ids::FileName), "alpha");
    ASSERT_TRUE(CloseWithEscape(window));
    window = OpenCamera(newName.Name())->GetSafeHwnd();
    EXPECT_EQ(Item(window, ids::FileName), "beta");
    EXPECT_EQ(Item(window, ids::CameraName), newName.Name());
    ASSERT_TRUE(CloseWithEscape(window));
}

// Renaming onto a camera that has stored settings asks first; "No" (and a name that cannot name a
// key) leaves that camera's key as it was and keeps this window's settings under the name it opened with.
TEST(CamAction, RenamingOntoAnotherCamerasSettingsAsksBeforeReplacingThem) {
    ScopedCameraKey opened("opened"), other("other");
    for (const auto& [typedName, answer] : std::vector<std::pair<std::string, int>>{
             {other.Name(), IDNO}, {other.Name() + "\\", IDOK}, {other.Name(), IDYES}}) {
        SCOPED_TRACE(typedName + " answered " + std::to_string(answer));
        ASSERT_TRUE(other.WriteText("FTU", "other's user") && opened.WriteText("FTU", ""));
        HWND window = OpenCamera(opened.Name())->GetSafeHwnd();
        SetItemText(window, ids::CameraName, typedName);
        SetItemText(window, ids::FtpUser, "typed user");
        std::string box;
        Driver driver([&] { box = AnswerMessageBox("Lumetra", 5000, answer); });
        ASSERT_TRUE(CloseWithEscape(window));
        driver.Join();
        EXPECT_EQ(box.find(answer == IDOK ? CameraNameRefusal(typedName)
                                          : "Camera \"" + other.Name() + "\" already has stored settings."),
                  0u);
        EXPECT_NE(box.find("under \"" + opened.Name() + "\"."), std::string::npos) << box;
        EXPECT_EQ(other.Read("FTU").Text(), answer == IDYES ? "typed user" : "other's user");
        EXPECT_EQ(opened.Read("FTU").Text(), answer == IDYES ? "" : "typed user");
    }
}

TEST(CamAction, ALongDirectoryAndALongTextSurviveAReopen) {
    ScopedCameraKey camera("long");
    const std::string directory = "C:\\" + std::string(197, 'd');
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "line " + std::to_string(i % 10) + "...";
    text.resize(400, '#');
    ASSERT_EQ(directory.size(), 200u);
    // A limit counts characters: 200 of them are 600 bytes in UTF-8, within the FTP URL's 256.
    std::string server;
    for (int i = 0; i < 200; ++i)
        server += reinterpret_cast<const char*>(u8"\u6771");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    SetItemText(window, ids::Directory, directory);
    SetItemText(window, ids::Text, text);
    SetItemText(window, ids::FtpUrl, server);
    std::string refusal;
    Driver driver([&] { refusal = AnswerMessageBox("Lumetra", 2000); });
    ASSERT_TRUE(CloseWithEscape(window));
    driver.Join();
    EXPECT_EQ(refusal, "");
    EXPECT_EQ(camera.Read("UTX").data.size(), 401u);
    EXPECT_EQ(camera.Read("FTP").Text(), server);

    CamActionDialog* reopened = OpenCamera(camera.Name());
    window = reopened->GetSafeHwnd();
    EXPECT_EQ(Item(window, ids::Directory), directory);
    EXPECT_EQ(Item(window, ids::Text), text);
    EXPECT_EQ(reopened->Settings().directory, directory);
    // The composer gets the text cut to 299 characters.
    EXPECT_EQ(std::string(Published().text), text.substr(0, 299));
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("UTX").Text(), text);
}

TEST(CamAction, AColourAbove255IsRefusedWhileTypingAndTheOldByteStays) {
    ScopedCameraKey camera("colour");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::HighGreen, "12");
    EXPECT_EQ(Published().highGreen, 12);
    EXPECT_EQ(TypeExpectingBox(window, ids::HighGreen, "256"), "Please enter an integer between 0 and 255.");
    EXPECT_EQ(dialog->Settings().highGreen, 12);
    EXPECT_EQ(Published().highGreen, 12);
    SetItemText(window, ids::HighGreen, "13");
    EXPECT_EQ(Published().highGreen, 13);
    EXPECT_EQ(TypeExpectingBox(window, ids::LowBlue, "-1"), "Please enter an integer between 0 and 255.");
    EXPECT_EQ(dialog->Settings().lowBlue, 0);
    SetItemText(window, ids::LowBlue, "4");
    EXPECT_EQ(Published().lowBlue, 4);
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("HIG").Dword(), 13u);
}

TEST(CamAction, SaveOnMotionIsRefusedWithoutItsNumbersAndStopsWhenOneIsTypedOutOfRange) {
    ScopedCameraKey camera("motion");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    struct Refused {
        int id;
        const char* text;
        const char* message;
    };
    const Refused refusals[] = {{ids::MotionShare, "0", "Please enter an integer between 1 and 1000."},
                                {ids::PixelChange, "256", "Please enter an integer between 1 and 255."},
                                {ids::MotionGap, "", "Please enter an integer between 1 and 86400."}};
    for (const Refused& refused : refusals) {
        SetItemText(window, refused.id, refused.text); // the box is off: no message yet
        ::CheckDlgButton(window, ids::SaveOnMotion, BST_CHECKED);
        std::string message;
        ASSERT_TRUE(
            ClickAndAnswer(window, ids::SaveOnMotion, [&] { message = AnswerMessageBox("Lumetra"); }));
        EXPECT_EQ(message, refused.message);
        EXPECT_FALSE(IsChecked(window, ids::SaveOnMotion));
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(window, refused.id));
        SetItemText(window, refused.id, "7");
    }
    ::CheckDlgButton(window, ids::SaveOnMotion, BST_CHECKED);
    SendClick(window, ids::SaveOnMotion);
    EXPECT_EQ(dialog->Settings().saveOnMotion, 1);
    EXPECT_EQ(dialog->MotionShare(), 7);
    EXPECT_EQ(dialog->PixelChange(), 7);
    EXPECT_EQ(dialog->MotionGapSeconds(), 7);
    // Typed out of range while ticked: the message, and motion saving stops; the number stays.
    EXPECT_EQ(TypeExpectingBox(window, ids::MotionGap, "90000"),
              "Please enter an integer between 1 and 86400.");
    EXPECT_FALSE(IsChecked(window, ids::SaveOnMotion));
    EXPECT_EQ(dialog->Settings().saveOnMotion, 0);
    EXPECT_EQ(dialog->MotionGapSeconds(), 7);
    SetItemText(window, ids::MotionGap, "8");
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("MOT").Dword(), 0u);
    EXPECT_EQ(camera.Read("MGP").Dword(), 8u);
}

TEST(CamAction, ClearingAnIntegerEditShowsTheIntegerMessageAtOnce) {
    ScopedCameraKey camera("integer");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::WatermarkX, "40");
    EXPECT_EQ(TypeExpectingBox(window, ids::WatermarkX, ""), "Please enter an integer.");
    EXPECT_EQ(dialog->Settings().watermarkX, 40);
    EXPECT_EQ(Published().watermarkX, 40);
    SetItemText(window, ids::WatermarkX, "41");
    EXPECT_EQ(TypeExpectingBox(window, ids::BoxDepth, "12x"), "Please enter an integer.");
    EXPECT_EQ(Published().watermarkX, 41) << "the values before the failing edit are taken";
    SetItemText(window, ids::BoxDepth, "9");
    EXPECT_EQ(Published().watermarkX, 41);
    EXPECT_EQ(Published().boxDepth, 9);
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(CamAction, EnterClosesNothingAndMakesANewLineInTheText) {
    ScopedCameraKey camera("enter");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    for (int id : {ids::FileName, ids::CameraName, ids::WatermarkX}) {
        HWND edit = ::GetDlgItem(window, id);
        ::SetFocus(edit);
        PressKey(edit, VK_RETURN);
        PumpMessages(150); // time for whatever Enter does: nothing may close
        ASSERT_TRUE(::IsWindow(window)) << "Enter in edit " << id;
        EXPECT_TRUE(::IsWindowVisible(window));
    }
    EXPECT_EQ(camera.ValueCount(), 0) << "Enter saves nothing";

    HWND text = ::GetDlgItem(window, ids::Text);
    SetItemText(window, ids::Text, "ab");
    ::SetFocus(text);
    ::SendMessageA(text, EM_SETSEL, 2, 2);
    PressKey(text, VK_RETURN);
    EXPECT_TRUE(PumpUntil([&] { return Item(window, ids::Text) == "ab\r\n"; }, 3000))
        << Item(window, ids::Text);
    ASSERT_TRUE(::IsWindow(window));

    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("UTX").Text(), "ab\r\n");
}

TEST(CamAction, ClosingWithARefusedEntryNamesItKeepsItsValueAndSavesEverythingElse) {
    struct Row {
        int field;
        const char* typed;
        const char* box;
        const char* valueName;
        DWORD kept;
    };
    for (const Row& row :
         {Row{ids::EmailSeconds, "twelve", "Email seconds between: Please enter an integer.", "ETL", 120},
          Row{ids::KeepDays, "99999", "Days to keep: Please enter an integer between 0 and 36500.", "RTD", 0},
          Row{ids::MotionShare, "0", "Motion, x 0.1 % changed: Please enter an integer between 1 and 1000.",
              "MSE", 10}}) {
        SCOPED_TRACE(row.box);
        ScopedCameraKey camera("refused");
        HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
        SetItemText(window, ids::EmailSeconds, "120");
        SetItemText(window, ids::FtpUser, "before");
        // The first refused entry; the addresses come after every one of them.
        SetItemText(window, row.field, row.typed);
        SetItemText(window, ids::EmailAddresses, "x@example.com");
        SetItemText(window, ids::FtpUser, "after");
        std::string boxText;
        std::atomic<bool> answered{false};
        Driver driver([&] {
            boxText = AnswerMessageBox("Lumetra");
            answered = true;
        });
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(PumpUntil([&] { return answered.load() && !::IsWindow(window); }, 5000));
        driver.Join();
        EXPECT_EQ(boxText, row.box);
        EXPECT_EQ(camera.Read(row.valueName).Dword(), row.kept);
        EXPECT_EQ(camera.Read("EML").Text(), "x@example.com");
        EXPECT_EQ(camera.Read("FTU").Text(), "after");
    }
}

TEST(CamAction, TheCloseBoxSavesAndCloses) {
    ScopedCameraKey camera("closebox");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    SetItemText(window, ids::FtpUser, "closer");
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(window); }, 5000));
    EXPECT_EQ(camera.Read("FTU").Text(), "closer");
}

TEST(CamAction, AccessorsReturnTheMembersOfTheLastExchangeAndTypedIntervals) {
    ScopedCameraKey camera("accessors");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    // The schedule sees a typed interval at once, without any other control being used.
    SetItemText(window, ids::SaveSeconds, "15abc");
    SetItemText(window, ids::FtpSeconds, " -3");
    SetItemText(window, ids::EmailSeconds, "90");
    EXPECT_EQ(dialog->SaveSeconds(), 15);
    EXPECT_EQ(dialog->FtpSeconds(), -3);
    EXPECT_EQ(dialog->EmailSeconds(), 90);
    SetItemText(window, ids::EmailSeconds, "9x"); // refused later, by the next exchange; kept until then
    EXPECT_EQ(dialog->EmailSeconds(), 90);
    SetItemText(window, ids::EmailSeconds, "");
    EXPECT_EQ(dialog->EmailSeconds(), 90);
    SetItemText(window, ids::EmailSeconds, "60");
    EXPECT_EQ(dialog->EmailSeconds(), 60);
    SetItemText(window, ids::SaveSeconds, "");
    EXPECT_EQ(dialog->SaveSeconds(), 0);
    SetItemText(window, ids::SaveSeconds, "15");

    // Other edits reach the members only when values are taken.
    SetItemText(window, ids::Directory, "C:\\cams");
    EXPECT_EQ(dialog->Settings().directory, "");
    std::optional<ImagePath> next = dialog->PathForUsersSave();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fullPath, "C:\\cams\\image.jpg");
    EXPECT_EQ(next->bareName, "image.jpg");
    EXPECT_EQ(dialog->Settings().directory, "C:\\cams");

    SetItemText(window, ids::FileName, "door");
    ::CheckDlgButton(window, ids::AppendTime, BST_CHECKED);
    next = dialog->PathForUsersSave();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->fullPath, "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(next->bareName, "door1000000000.jpg");
    EXPECT_EQ(dialog->LastImagePath(), "C:\\cams\\door1000000000.jpg");
    EXPECT_EQ(dialog->LastImageName(), "door1000000000.jpg");

    // Without a directory no path is made, and never the last one again.
    SetItemText(window, ids::Directory, "");
    SetItemText(window, ids::FileName, "other");
    std::string refusal;
    EXPECT_FALSE(dialog->PathForAutomaticSave(refusal));
    EXPECT_EQ(refusal, "no folder is chosen");
    EXPECT_EQ(dialog->LastImagePath(), "C:\\cams\\door1000000000.jpg");
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(CamAction, MirrorSwitchFollowsTheDialogThatWroteItLast) {
    CameraListDialog owner;
    ScopedCameraKey first("mirror1");
    ScopedCameraKey second("mirror2");
    HWND one = OpenCamera(first.Name(), &owner, nullptr, 12)->GetSafeHwnd();
    HWND two = OpenCamera(second.Name(), &owner, nullptr, 13)->GetSafeHwnd();

    ::CheckDlgButton(one, ids::MirrorToHttp, BST_CHECKED);
    SendClick(one, ids::MirrorToHttp); // the click toggles nothing itself: the state stays checked
    EXPECT_TRUE(owner.MirrorEnabled());
    SendClick(two, ids::SaveAuto); // "Save Auto" copies its own dialog's mirror check too
    EXPECT_FALSE(owner.MirrorEnabled());

    // "Save Current Image" copies the switch as well, with or without a session.
    SetItemText(one, ids::Directory, "C:\\cams");
    SendClick(one, ids::SaveCurrentImage);
    EXPECT_TRUE(owner.MirrorEnabled());
    ASSERT_TRUE(CloseWithEscape(one));
    ASSERT_TRUE(CloseWithEscape(two));
}

// The path is published once the camera has written the image; without a camera nothing is.
TEST(CamAction, SaveCurrentImageWithoutACameraPublishesNothing) {
    CameraListDialog owner;
    ASSERT_TRUE(owner.httpMirror.Open());
    ScopedCameraKey camera("publish");
    HWND window = OpenCamera(camera.Name(), &owner)->GetSafeHwnd();
    SetItemText(window, ids::Directory, "C:\\cams");
    ::CheckDlgButton(window, ids::MirrorToHttp, BST_CHECKED);
    SendClick(window, ids::SaveCurrentImage);

    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, "lumetramem");
    ASSERT_NE(mapping, nullptr);
    const auto* block = static_cast<const wchar_t*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8192));
    ASSERT_NE(block, nullptr);
    EXPECT_NE(std::wstring(block), L"PATH=C:\\cams\\image.jpg\n");
    ::UnmapViewOfFile(block);
    ::CloseHandle(mapping);
    ASSERT_TRUE(CloseWithEscape(window));
}

namespace {
CamActionDialog* tickedDialog = nullptr;
std::atomic<int> ticksInsideBox{0};
std::atomic<bool> ticking{false};
void CALLBACK TickLikeTheSchedule(HWND, UINT, UINT_PTR, DWORD) {
    if (!ticking)
        return;
    tickedDialog->PathForUsersSave();
    ++ticksInsideBox;
}
} // namespace

TEST(CamAction, ATickInsideAValidationBoxStacksNoFurtherBox) {
    ScopedCameraKey camera("nested");
    tickedDialog = OpenCamera(camera.Name());
    HWND window = tickedDialog->GetSafeHwnd();
    SetItemText(window, ids::Directory, "C:\\cams");
    ticksInsideBox = 0;
    ticking = true;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, TickLikeTheSchedule);
    size_t boxesOpen = 0;
    std::string boxText;
    std::atomic<bool> answered{false};
    Driver driver([&] {
        HWND box = WaitForWindow("Lumetra");
        // Several ticks run inside the box's message loop.
        EXPECT_TRUE(PumpUntil([] { return ticksInsideBox >= 5; }, 5000));
        boxesOpen = FindWindows("Lumetra").size();
        boxText = MessageBoxText(box);
        ticking = false;
        // Answers every box, however many were stacked.
        while (HWND open = WaitForWindow("Lumetra", 300)) {
            Answer(open, IDOK);
            WaitForWindowGone(open, 1000);
        }
        answered = true;
    });
    SetItemText(window, ids::HighRed, "300");
    // The driver reads window texts, so this thread keeps answering messages until it is done.
    PumpUntil([&] { return answered.load(); }, 10000);
    driver.Join();
    ::KillTimer(nullptr, timer);
    EXPECT_GT(ticksInsideBox, 0);
    EXPECT_EQ(boxesOpen, 1u);
    EXPECT_EQ(boxText, "Please enter an integer between 0 and 255.");
    EXPECT_EQ(tickedDialog->LastImagePath(), "C:\\cams\\image.jpg");
    SetItemText(window, ids::HighRed, "30");
    ASSERT_TRUE(CloseWithEscape(window));
}

// The limits delete images: a number counts once its field is left, not while it is typed.
TEST(CamAction, RetentionLimitsCountOnceTheirFieldIsLeftAndAreRefusedOutOfRange) {
    ScopedCameraKey camera("retention");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    EXPECT_EQ(Item(window, ids::KeepDays), "0");
    EXPECT_EQ(Item(window, ids::KeepMegabytes), "0");
    const auto leave = [&](int id) {
        ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
    };
    SetItemText(window, ids::KeepMegabytes, "1"); // on the way to "100"
    Click(window, ids::AppendTime);               // takes the other values
    EXPECT_EQ(dialog->Retention().megabytes, 0);
    SetItemText(window, ids::KeepMegabytes, "100");
    leave(ids::KeepMegabytes);
    EXPECT_EQ(dialog->Retention().megabytes, 100);

    SetItemText(window, ids::KeepDays, "36501");
    std::string message;
    {
        Driver driver([&] { message = AnswerMessageBox("Lumetra"); });
        leave(ids::KeepDays);
        driver.Join();
    }
    EXPECT_EQ(message, "Please enter an integer between 0 and 36500.");
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(window, ids::KeepDays));
    EXPECT_EQ(dialog->Retention().days, 0);
    SetItemText(window, ids::KeepDays, "30");
    ASSERT_TRUE(CloseWithEscape(window)); // closing takes what is typed, left or not
    EXPECT_EQ(camera.Read("RTD").Dword(), 30u);
    EXPECT_EQ(camera.Read("RTS").Dword(), 100u);
}
