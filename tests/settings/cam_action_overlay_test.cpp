// Every change of a watermark or text control reaches the overlay the camera's slot publishes;
// the pickers' cancel paths and confirmed choices; the pair with a real camera session.
#include "ActionDialogHarness.h"
#include "session/LiveView.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

struct EditField {
    int id;
    int OverlaySettings::*field;
};
const EditField IntEdits[] = {
    {ids::WatermarkX, &OverlaySettings::watermarkX}, {ids::WatermarkY, &OverlaySettings::watermarkY},
    {ids::TextX, &OverlaySettings::textX},           {ids::TextY, &OverlaySettings::textY},
    {ids::BoxWidth, &OverlaySettings::boxWidth},     {ids::BoxDepth, &OverlaySettings::boxDepth},
};
struct ByteField {
    int id;
    BYTE OverlaySettings::*field;
};
const ByteField ByteEdits[] = {
    {ids::HighRed, &OverlaySettings::highRed},   {ids::HighGreen, &OverlaySettings::highGreen},
    {ids::HighBlue, &OverlaySettings::highBlue}, {ids::LowRed, &OverlaySettings::lowRed},
    {ids::LowGreen, &OverlaySettings::lowGreen}, {ids::LowBlue, &OverlaySettings::lowBlue},
};
struct CheckField {
    int id;
    int OverlaySettings::*field;
};
const CheckField CheckBoxes[] = {
    {ids::UseWatermark, &OverlaySettings::useWatermark},
    {ids::UseTransparent, &OverlaySettings::useTransparent},
    {ids::VerticalText, &OverlaySettings::verticalText},
    {ids::UseBox, &OverlaySettings::wrapInBox},
};

// A click as the user makes it: the auto check box toggles, then notifies.
void ClickCheck(HWND window, int id) {
    ::CheckDlgButton(window, id, IsChecked(window, id) ? BST_UNCHECKED : BST_CHECKED);
    SendClick(window, id);
}

} // namespace

TEST(Overlay, EveryChangeOfAnOverlayEditIsPublishedAtOnce) {
    ScopedCameraKey camera("edits");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    int value = 21;
    for (const EditField& edit : IntEdits) {
        SetItemText(window, edit.id, std::to_string(value));
        EXPECT_EQ(Published().*edit.field, value) << "edit " << edit.id;
        // Negative offsets and sizes are taken as typed.
        SetItemText(window, edit.id, std::to_string(-value));
        EXPECT_EQ(Published().*edit.field, -value) << "edit " << edit.id;
        ++value;
    }
    for (const ByteField& edit : ByteEdits) {
        SetItemText(window, edit.id, std::to_string(value * 3));
        EXPECT_EQ(Published().*edit.field, value * 3) << "edit " << edit.id;
        ++value;
    }
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("WXX").Dword(), static_cast<DWORD>(-21));
}

TEST(Overlay, EditsWithoutAChangeHandlerArriveWithTheNextPublish) {
    ScopedCameraKey camera("later");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    SetItemText(window, ids::WatermarkWidth, "320");
    SetItemText(window, ids::WatermarkHeight, "240");
    SetItemText(window, ids::WatermarkPath, "C:\\marks\\typed.bmp");
    SetItemText(window, ids::Text, "Garage");
    EXPECT_EQ(Published().watermarkWidth, 0);
    EXPECT_STREQ(Published().text, "");
    SetItemText(window, ids::TextX, "5");
    EXPECT_EQ(Published().watermarkWidth, 320);
    EXPECT_EQ(Published().watermarkHeight, 240);
    EXPECT_EQ(Published().watermarkPath, "C:\\marks\\typed.bmp");
    EXPECT_STREQ(Published().text, "Garage");
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Overlay, CheckBoxesPublishTheirNewStateAndKeepWhatWasTyped) {
    ScopedCameraKey camera("checks");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    for (const CheckField& check : CheckBoxes) {
        // Typed into an edit without a change handler just before the click.
        const std::string typed = std::to_string(100 + check.id % 100);
        SetItemText(window, ids::WatermarkWidth, typed);
        ClickCheck(window, check.id);
        EXPECT_EQ(Published().*check.field, 1) << "check " << check.id;
        EXPECT_TRUE(IsChecked(window, check.id));
        EXPECT_EQ(Item(window, ids::WatermarkWidth), typed) << "the refresh kept the typed width";
        EXPECT_EQ(Published().watermarkWidth, std::stoi(typed));
        ClickCheck(window, check.id);
        EXPECT_EQ(Published().*check.field, 0) << "check " << check.id;
        EXPECT_FALSE(IsChecked(window, check.id));
    }
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Overlay, AFlagFollowsItsBoxWhenAnEarlierEntryIsRefused) {
    ScopedCameraKey camera("refusedchecks");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    SetItemText(window, ids::WatermarkWidth, "wide"); // refused by the next exchange, before the boxes
    ::CheckDlgButton(window, ids::VerticalText, BST_CHECKED);
    ASSERT_TRUE(ClickAndAnswer(window, ids::VerticalText, [] { AnswerMessageBox("Lumetra"); }));
    EXPECT_EQ(Published().verticalText, 1);
    // Polygon mode still asks for its sides; cancelled, it stays off once the entry is corrected.
    ::CheckDlgButton(window, ids::Polygon, BST_CHECKED);
    ASSERT_TRUE(ClickAndAnswer(window, ids::Polygon, [] {
        Answer(WaitForWindow("Special Water Mark "), IDCANCEL);
        AnswerMessageBox("Lumetra");
    }));
    SetItemText(window, ids::WatermarkWidth, "90");
    SetItemText(window, ids::TextX, "5");
    EXPECT_FALSE(IsChecked(window, ids::Polygon));
    EXPECT_EQ(Published().polygonWatermark, 0);
    EXPECT_EQ(Published().verticalText, 1);
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Overlay, TheTextIsPublishedCutTo299Characters) {
    ScopedCameraKey camera("text");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    const std::string text(350, 'q');
    SetItemText(window, ids::Text, text);
    SetItemText(window, ids::TextY, "1");
    EXPECT_EQ(std::strlen(Published().text), 299u);
    EXPECT_EQ(std::string(Published().text), text.substr(0, 299));

    // Characters, not bytes: 299 whole characters of three UTF-8 bytes each.
    const std::string east = reinterpret_cast<const char*>(u8"\u6771");
    std::string wide;
    for (int i = 0; i < 350; ++i)
        wide += east;
    SetItemText(window, ids::Text, wide);
    SetItemText(window, ids::TextY, "2");
    EXPECT_EQ(std::string(Published().text), wide.substr(0, 299 * east.size()));
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Overlay, ARestoredFontAndColourArePublishedWhenTheCameraOpens) {
    ScopedCameraKey camera("font");
    LOGFONTA font{};
    font.lfHeight = -24;
    font.lfWeight = FW_BOLD;
    std::strcpy(font.lfFaceName, "Tahoma");
    ASSERT_TRUE(camera.Write("LFN", REG_BINARY, &font, sizeof font));
    ASSERT_TRUE(camera.WriteDword("FCO", RGB(200, 10, 20)));

    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    EXPECT_EQ(Published().textFont.lfHeight, -24);
    EXPECT_STREQ(Published().textFont.lfFaceName, "Tahoma");
    EXPECT_EQ(Published().fontColour, RGB(200, 10, 20));
    EXPECT_EQ(Item(window, ids::FontFace), "Tahoma");
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(window, ids::FontFace), GWL_STYLE) & ES_READONLY);
    // The text edit shows the restored font.
    HFONT shown = reinterpret_cast<HFONT>(::SendDlgItemMessageA(window, ids::Text, WM_GETFONT, 0, 0));
    LOGFONTA shownFont{};
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(::GetObjectA(shown, sizeof shownFont, &shownFont), static_cast<int>(sizeof shownFont));
    EXPECT_EQ(shownFont.lfHeight, -24);
    EXPECT_STREQ(shownFont.lfFaceName, "Tahoma");

    // A cancelled font picker keeps the previous font.
    EXPECT_TRUE(ClickAndAnswer(window, ids::ChooseFont, [] {
        HWND picker = WaitForWindow("Font");
        ASSERT_NE(picker, nullptr);
        Answer(picker, IDCANCEL);
        WaitForWindowGone(picker);
    }));
    EXPECT_STREQ(dialog->Settings().textFont.lfFaceName, "Tahoma");
    EXPECT_STREQ(Published().textFont.lfFaceName, "Tahoma");
    EXPECT_EQ(Item(window, ids::FontFace), "Tahoma");
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("FCO").Dword(), static_cast<DWORD>(RGB(200, 10, 20)));
    EXPECT_EQ(camera.Read("LFN").data.size(), 60u);
}

TEST(Overlay, ColourPickersCancelledKeepTheColourAndStillPublish) {
    ScopedCameraKey camera("pickcancel");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    SetItemText(window, ids::HighRed, "12");
    SetItemText(window, ids::LowGreen, "34");
    // Typed without a change handler: taken before the picker opens, published after it.
    SetItemText(window, ids::WatermarkWidth, "77");
    for (int button : {ids::HighColour, ids::LowColour, ids::FontColour}) {
        EXPECT_TRUE(ClickAndAnswer(window, button, [] {
            HWND picker = WaitForWindow("Color");
            ASSERT_NE(picker, nullptr);
            Answer(picker, IDCANCEL);
            WaitForWindowGone(picker);
        }));
        EXPECT_EQ(Published().highRed, 12);
        EXPECT_EQ(Published().lowGreen, 34);
        EXPECT_EQ(Published().watermarkWidth, 77);
        EXPECT_EQ(Published().fontColour, 0u);
        EXPECT_EQ(Item(window, ids::WatermarkWidth), "77");
    }
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Overlay, AChosenColourFillsTheThreeBytesOrTheTextColour) {
    ScopedCameraKey camera("pickok");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    auto choose = [](const char* red, const char* green, const char* blue) {
        return [=] {
            HWND picker = WaitForWindow("Color");
            ASSERT_NE(picker, nullptr);
            // The colour dialog's red, green and blue edits.
            SetItemText(picker, 706, red);
            SetItemText(picker, 707, green);
            SetItemText(picker, 708, blue);
            Answer(picker, IDOK);
            WaitForWindowGone(picker);
        };
    };
    ASSERT_TRUE(ClickAndAnswer(window, ids::HighColour, choose("200", "100", "50")));
    EXPECT_EQ(Item(window, ids::HighRed), "200");
    EXPECT_EQ(Item(window, ids::HighGreen), "100");
    EXPECT_EQ(Item(window, ids::HighBlue), "50");
    EXPECT_EQ(Published().highRed, 200);
    EXPECT_EQ(Published().highGreen, 100);
    EXPECT_EQ(Published().highBlue, 50);

    ASSERT_TRUE(ClickAndAnswer(window, ids::LowColour, choose("1", "2", "3")));
    EXPECT_EQ(Published().lowRed, 1);
    EXPECT_EQ(Published().lowGreen, 2);
    EXPECT_EQ(Published().lowBlue, 3);

    ASSERT_TRUE(ClickAndAnswer(window, ids::FontColour, choose("10", "20", "30")));
    EXPECT_EQ(dialog->Settings().fontColour, RGB(10, 20, 30));
    EXPECT_EQ(Published().fontColour, RGB(10, 20, 30));
    // The swatch beside the button shows the colour, painted within the redraw.
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HWND swatch = ::GetDlgItem(window, ids::ColourSwatch);
    RECT rect{};
    ::GetClientRect(swatch, &rect);
    HDC dc = ::GetDC(swatch);
    const COLORREF pixel = ::GetPixel(dc, rect.right / 2, rect.bottom / 2);
    ::ReleaseDC(swatch, dc);
    EXPECT_EQ(pixel, RGB(10, 20, 30));
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("FCO").Dword(), static_cast<DWORD>(RGB(10, 20, 30)));
}

TEST(Pickers, BrowseTakesTheDirectoryOfTheChosenPathAndCancelChangesNothing) {
    ScopedCameraKey camera("browse");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::Directory, "C:\\before");
    SetItemText(window, ids::FileName, "typed");
    auto answer = [](int command, const char* fileName) {
        return [=] {
            HWND picker = WaitForWindow("Image Save Location");
            ASSERT_NE(picker, nullptr);
            if (fileName)
                SetItemText(picker, 0x47C, fileName); // the file name box
            Answer(picker, command);
            WaitForWindowGone(picker);
        };
    };
    ASSERT_TRUE(ClickAndAnswer(window, ids::Browse, answer(IDCANCEL, nullptr)));
    EXPECT_EQ(Item(window, ids::Directory), "C:\\before");

    ASSERT_TRUE(ClickAndAnswer(window, ids::Browse, answer(IDOK, "C:\\windows\\my own name.jpg")));
    EXPECT_EQ(Item(window, ids::Directory), "C:\\windows");
    EXPECT_EQ(dialog->Settings().directory, "C:\\windows");
    EXPECT_EQ(Item(window, ids::FileName), "typed") << "the refresh kept the typed file name";
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(camera.Read("FIL").Text(), "C:\\windows");
}

TEST(Pickers, SelectWatermarkShowsThePathReadOnlyAndPublishesIt) {
    ScopedCameraKey camera("watermark");
    HWND window = OpenCamera(camera.Name())->GetSafeHwnd();
    auto answer = [](int command, const char* fileName) {
        return [=] {
            HWND picker = WaitForWindow("Open");
            ASSERT_NE(picker, nullptr);
            if (fileName)
                SetItemText(picker, 0x47C, fileName);
            Answer(picker, command);
            WaitForWindowGone(picker);
        };
    };
    ASSERT_TRUE(ClickAndAnswer(window, ids::SelectWatermark, answer(IDCANCEL, nullptr)));
    EXPECT_EQ(Item(window, ids::WatermarkPath), "");
    EXPECT_FALSE(::GetWindowLongA(::GetDlgItem(window, ids::WatermarkPath), GWL_STYLE) & ES_READONLY);

    ASSERT_TRUE(ClickAndAnswer(window, ids::SelectWatermark, answer(IDOK, "C:\\windows\\win.ini")));
    EXPECT_EQ(Item(window, ids::WatermarkPath), "C:\\windows\\win.ini");
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(window, ids::WatermarkPath), GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(Published().watermarkPath, "C:\\windows\\win.ini");
    ASSERT_TRUE(CloseWithEscape(window));
}

TEST(Session, SwitchesReachTheSessionAndThePairClosesTogether) {
    ScopedCameraKey camera("session");
    ASSERT_TRUE(camera.WriteDword("ATI", 1));
    ASSERT_TRUE(camera.WriteDword("AFT", 1));
    auto* session = new LiveView(nullptr);
    HWND liveView = session->GetSafeHwnd();
    ASSERT_NE(liveView, nullptr);
    CamActionDialog* dialog = OpenCamera(camera.Name(), nullptr, session);
    session->SetActionDialog(dialog);
    HWND window = dialog->GetSafeHwnd();

    EXPECT_TRUE(session->SwitchOn(SessionSwitch::ViewAfterSaving)) << "a stored ATI arms the session at once";
    EXPECT_TRUE(IsChecked(window, ids::FtpAuto));
    EXPECT_FALSE(session->SwitchOn(SessionSwitch::FtpAuto)) << "a stored AFT does not";
    ClickCheck(window, ids::FtpAuto);
    EXPECT_FALSE(session->SwitchOn(SessionSwitch::FtpAuto));
    ClickCheck(window, ids::FtpAuto);
    EXPECT_TRUE(session->SwitchOn(SessionSwitch::FtpAuto));
    SetItemText(window, ids::SaveSeconds, "5"); // the automatic boxes need an interval
    SetItemText(window, ids::EmailSeconds, "60");
    ClickCheck(window, ids::SaveAuto);
    EXPECT_TRUE(session->SwitchOn(SessionSwitch::SaveAuto));
    ClickCheck(window, ids::EmailAuto);
    EXPECT_TRUE(session->SwitchOn(SessionSwitch::EmailAuto));
    ClickCheck(window, ids::ViewAfterSaving);
    EXPECT_FALSE(session->SwitchOn(SessionSwitch::ViewAfterSaving));

    SetItemText(window, ids::FtpPath, "by escape");
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(liveView); }, 5000)) << "the live view closes with it";
    EXPECT_EQ(camera.Read("FTD").Text(), "by escape");
}

TEST(Session, ClosingTheLiveViewFirstSavesAndClosesTheDialog) {
    ScopedCameraKey camera("liveview");
    auto* session = new LiveView(nullptr);
    HWND liveView = session->GetSafeHwnd();
    CamActionDialog* dialog = OpenCamera(camera.Name(), nullptr, session);
    session->SetActionDialog(dialog);
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::FtpPath, "by live view");
    session->Cancel();
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window) && !::IsWindow(liveView); }, 5000));
    EXPECT_EQ(camera.Read("FTD").Text(), "by live view");
}

TEST(Session, ClosingTheLiveViewInsideAValidationBoxSavesEveryValidValue) {
    ScopedCameraKey camera("liveviewbox");
    auto* session = new LiveView(nullptr);
    HWND liveView = session->GetSafeHwnd();
    CamActionDialog* dialog = OpenCamera(camera.Name(), nullptr, session);
    session->SetActionDialog(dialog);
    HWND window = dialog->GetSafeHwnd();
    SetItemText(window, ids::WatermarkWidth, "wide"); // refused; the addresses come after it
    SetItemText(window, ids::EmailAddresses, "after@example.com");
    Driver driver([&] {
        WaitForWindow("Lumetra");
        ::PostMessageA(liveView, WM_CLOSE, 0, 0); // the Live View's close box, with the box open
    });
    Click(window, ids::AppendTime);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window) && !::IsWindow(liveView); }, 5000));
    driver.Join();
    EXPECT_TRUE(FindWindows("Lumetra").empty()) << "the close shows no box of its own";
    EXPECT_EQ(camera.Read("EML").Text(), "after@example.com");
}

TEST(Pickers, AChosenFontIsShownUsedForTheTextAndPublished) {
    ScopedCameraKey camera("fontok");
    CamActionDialog* dialog = OpenCamera(camera.Name());
    HWND window = dialog->GetSafeHwnd();
    EXPECT_FALSE(::GetWindowLongA(::GetDlgItem(window, ids::FontFace), GWL_STYLE) & ES_READONLY);
    ASSERT_TRUE(ClickAndAnswer(window, ids::ChooseFont, [] {
        HWND picker = WaitForWindow("Font");
        ASSERT_NE(picker, nullptr);
        // Picks "Tahoma" in the face name box, as a click in its list would.
        HWND faces = ::GetDlgItem(picker, 0x470);
        ::SendMessageA(faces, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("Tahoma"));
        ::SendMessageA(picker, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), reinterpret_cast<LPARAM>(faces));
        Answer(picker, IDOK);
        WaitForWindowGone(picker);
    }));
    EXPECT_STREQ(dialog->Settings().textFont.lfFaceName, "Tahoma");
    EXPECT_STREQ(Published().textFont.lfFaceName, "Tahoma");
    EXPECT_LT(Published().textFont.lfHeight, 0);
    EXPECT_EQ(Item(window, ids::FontFace), "Tahoma");
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(window, ids::FontFace), GWL_STYLE) & ES_READONLY);
    HFONT shown = reinterpret_cast<HFONT>(::SendDlgItemMessageA(window, ids::Text, WM_GETFONT, 0, 0));
    LOGFONTA shownFont{};
    ASSERT_EQ(::GetObjectA(shown, sizeof shownFont, &shownFont), static_cast<int>(sizeof shownFont));
    EXPECT_STREQ(shownFont.lfFaceName, "Tahoma");
    EXPECT_EQ(shownFont.lfHeight, Published().textFont.lfHeight);
    ASSERT_TRUE(CloseWithEscape(window));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(camera.Read("LFN").data.data()) + 28), "Tahoma");
}
