// The camera list driven as a user drives it: real dialog, real device enumeration over the
// test-pattern cameras registered in the prefix, real message boxes.
#include "TestCameras.h"
#include "WindowDriver.h"
#include "app/CameraApp.h"
#include "app/CameraListDialog.h"
#include "session/LiveView.h"
#include "settings/CameraSettings.h"

#include <gtest/gtest.h>
#include <dshow.h>
#include <gdiplus.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;
using namespace lumetra::camera_list_ids;

namespace {

const std::wstring DefaultCamera = L"Lumetra Test Camera";
const char* NoDeviceMessage = "No video capture device fouind.\r\n\r\na device like a USB web cam is needed.";

class CameraListTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        app = new CameraApp;
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
    }
    static void TearDownTestSuite() {
        Gdiplus::GdiplusShutdown(gdiplusToken);
        delete app;
        app = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(cameras.loaded());
        cameras.UnregisterAll();
        cameras.Register(DefaultCamera);
    }

    // Runs the camera list modally while `drive` works it from another thread.
    INT_PTR Run(CameraListDialog& dialog, std::function<void()> drive) {
        Driver driver(std::move(drive));
        const INT_PTR result = dialog.DoModal();
        driver.Join();
        return result;
    }

    static std::vector<std::string> ListEntries(HWND main) {
        HWND list = ::GetDlgItem(main, DeviceList);
        std::vector<std::string> entries;
        const int count = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512] = {};
            ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            entries.emplace_back(text);
        }
        return entries;
    }

    static void Select(HWND main, int index) {
        HWND list = ::GetDlgItem(main, DeviceList);
        ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageA(main, WM_COMMAND, MAKEWPARAM(DeviceList, LBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list));
    }

    // Types a name and presses Open Cam; waits until the Live View shows.
    static void OpenCamera(HWND main, const std::string& name) {
        SetItemText(main, CamEdit, name);
        ::SendMessageA(main, WM_COMMAND, MAKEWPARAM(OpenCam, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(main, OpenCam)));
    }

    TestCameras cameras;
    PreparedCamerasRestorer restorer{cameras};
    static inline CameraApp* app = nullptr;
    static inline ULONG_PTR gdiplusToken = 0;
};

TEST_F(CameraListTest, WithoutDevicesTheErrorComesFirstThenTheEmptyList) {
    cameras.UnregisterAll();
    CameraListDialog dialog;
    std::string errorText;
    bool mainVisibleDuringError = true;
    std::vector<std::string> entries;
    std::string camText;
    const INT_PTR result = Run(dialog, [&] {
        HWND box = WaitForWindow("Error");
        ASSERT_NE(box, nullptr);
        mainVisibleDuringError = FindWindows("Lumetra").size() > 0;
        errorText = MessageBoxText(box);
        Answer(box, IDOK);
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        entries = ListEntries(main);
        Select(main, 0);
        camText = GetItemText(main, CamEdit);
        Click(main, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(errorText, "No such catagory");
    EXPECT_FALSE(mainVisibleDuringError);
    EXPECT_EQ(entries, std::vector<std::string>{"<< No entries >>"});
    EXPECT_EQ(camText, "<< No entries >>");
}

TEST_F(CameraListTest, DevicesAreListedSorted) {
    ScopedTestCamera zeta(cameras, "Zeta Cam");
    ScopedTestCamera alpha(cameras, "alpha cam");
    ScopedTestCamera beta(cameras, "Beta Cam");
    CameraListDialog dialog;
    std::vector<std::string> entries;
    Run(dialog, [&] {
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        entries = ListEntries(main);
        Answer(main, IDCANCEL);
    });
    EXPECT_EQ(entries,
              (std::vector<std::string>{"alpha cam", "Beta Cam", "Lumetra Test Camera", "Zeta Cam"}));
}

TEST_F(CameraListTest, ADeviceThatCannotBeMadeIsToldAndStillListed) {
    ComApartment com;
    ASSERT_TRUE(com.usable());
    // A device whose class nobody registered: its CLSID parses, but it is never made.
    constexpr CLSID NoSuchClass = {
        0x6c1f0d2a, 0x3b5e, 0x4f7a, {0x9a, 0x41, 0x2e, 0x8b, 0x17, 0xc3, 0x55, 0x90}};
    const std::wstring name = L"Unmakeable Cam";
    ComPtr<IFilterMapper2> mapper;
    ASSERT_TRUE(
        SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                     reinterpret_cast<void**>(mapper.GetAddressOf()))));
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    ASSERT_TRUE(SUCCEEDED(mapper->RegisterFilter(NoSuchClass, name.c_str(), nullptr,
                                                 &CLSID_VideoInputDeviceCategory, name.c_str(), &filter)));
    const std::shared_ptr<void> unregister(nullptr, [&](void*) {
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name.c_str(), NoSuchClass);
    });
    CameraListDialog dialog;
    std::string boxText;
    std::vector<std::string> entries;
    Run(dialog, [&] {
        boxText = AnswerMessageBox("DeriDez Message");
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        entries = ListEntries(main);
        Answer(main, IDCANCEL);
    });
    EXPECT_EQ(boxText.rfind("Couldn't bind moniker to filter object!  hr=0x8", 0), 0u) << boxText;
    EXPECT_EQ(entries, (std::vector<std::string>{"Lumetra Test Camera", "Unmakeable Cam"}));
}

TEST_F(CameraListTest, AboutFromMenuAndButtonAndDonationOnTop) {
    CameraListDialog dialog;
    bool aboutFromMenu = false, aboutFromButton = false, donationShown = false, aboutStillOpen = false;
    std::string helpText;
    Run(dialog, [&] {
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        ::PostMessageA(main, WM_SYSCOMMAND, AboutMenuCommand, 0);
        HWND about = WaitForWindow("About quillon");
        aboutFromMenu = about != nullptr;
        ASSERT_NE(about, nullptr);
        Click(about, 1054);
        HWND donation = WaitForWindow("Donation information");
        donationShown = donation != nullptr;
        aboutStillOpen = ::IsWindowVisible(about);
        Answer(donation, IDOK);
        WaitForWindowGone(donation);
        Answer(about, IDOK);
        WaitForWindowGone(about);

        Click(main, About);
        HWND again = WaitForWindow("About quillon");
        aboutFromButton = again != nullptr;
        Answer(again, IDCANCEL);
        WaitForWindowGone(again);

        Click(main, 57670);
        helpText = AnswerMessageBox("Lumetra Help");
        Click(main, IDOK);
    });
    EXPECT_TRUE(aboutFromMenu);
    EXPECT_TRUE(donationShown);
    EXPECT_TRUE(aboutStillOpen);
    EXPECT_TRUE(aboutFromButton);
    EXPECT_NE(helpText.find("Open Cam"), std::string::npos);
}

TEST_F(CameraListTest, OpenCamShowsThePairAndAnUnknownNameIsAddedOnce) {
    CameraListDialog dialog;
    size_t sessionsAfterOpen = 0;
    std::string noDeviceText;
    std::vector<std::string> entriesAfterTwoOpens;
    size_t liveViewsBeforeExit = 0;
    Run(dialog, [&] {
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        Select(main, 0);
        OpenCamera(main, "Lumetra Test Camera");
        ASSERT_NE(WaitForWindow("Live View"), nullptr);
        ASSERT_NE(WaitForWindow("CAM ACTION"), nullptr);
        sessionsAfterOpen = dialog.OpenSessions().size();

        Driver opener([&] { OpenCamera(main, "No Such Cam"); });
        noDeviceText = AnswerMessageBox("Error!");
        opener.Join();
        Driver openerAgain([&] { OpenCamera(main, "No Such Cam"); });
        AnswerMessageBox("Error!");
        openerAgain.Join();
        entriesAfterTwoOpens = ListEntries(main);
        liveViewsBeforeExit = FindWindows("Live View").size();
        Click(main, IDOK);
    });
    EXPECT_EQ(sessionsAfterOpen, 1u);
    EXPECT_EQ(noDeviceText, NoDeviceMessage);
    EXPECT_EQ(entriesAfterTwoOpens, (std::vector<std::string>{"Lumetra Test Camera", "No Such Cam"}));
    EXPECT_EQ(liveViewsBeforeExit, 3u);
    // Exit closed every camera as its own close does.
    EXPECT_TRUE(dialog.OpenSessions().empty());
    EXPECT_TRUE(FindWindows("Live View").empty());
    EXPECT_TRUE(FindWindows("CAM ACTION").empty());
}

// A camera name names its settings key: names outside the system's ANSI code page pass whole, bind
// their own devices and keep keys of their own; names the registry would take for another key (or
// refuse) open nothing.
TEST_F(CameraListTest, OpenCamTakesEveryNameThatCanNameASettingsKeyOfItsOwn) {
    const std::string tokyo = reinterpret_cast<const char*>(u8"\u6771\u4eac");
    const std::string osaka = reinterpret_cast<const char*>(u8"\u5927\u962a");
    const std::wstring keys[] = {L"Software\\_ORVANE\\Lumetra\\\u5927\u962a",
                                 L"Software\\_ORVANE\\Lumetra\\\u6771\u4eac"};
    for (const std::wstring& key : keys)
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    ScopedTestCamera tokyoCamera(cameras, tokyo), osakaCamera(cameras, osaka);
    const std::vector<std::string> refused = {"Lumetra Test Camera\\", "\\Lumetra Test Camera",
                                              "Lumetra\\\\Test Camera", ""};
    CameraListDialog dialog;
    std::vector<std::string> entries, refusals, opened;
    Run(dialog, [&] {
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        for (const std::string& name : refused) {
            Driver opener([&] { OpenCamera(main, name); });
            refusals.push_back(AnswerMessageBox("Lumetra"));
            opener.Join();
        }
        entries = ListEntries(main);
        OpenCamera(main, tokyo);
        OpenCamera(main, osaka);
        for (LiveView* session : dialog.OpenSessions())
            if (session->Graph().running())
                opened.push_back(session->CameraName());
        Click(main, IDOK); // saves both cameras' settings
    });
    for (size_t i = 0; i < refused.size(); ++i)
        EXPECT_EQ(refusals.at(i), CameraNameRefusal(refused[i]));
    std::sort(entries.begin(), entries.end());
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"Lumetra Test Camera", osaka, tokyo}));
    EXPECT_EQ(opened, (std::vector<std::string>{osaka, tokyo}));
    for (const std::wstring& key : keys) {
        wchar_t stored[16] = {};
        DWORD size = sizeof stored;
        ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"CAM", RRF_RT_REG_SZ, nullptr, stored, &size);
        EXPECT_EQ(key.substr(key.rfind(L'\\') + 1), stored);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }
}

TEST_F(CameraListTest, TwentyCamerasHoldTwentySlotsAndTheTwentyFirstIsRefused) {
    CameraListDialog dialog;
    std::vector<int> indices;
    std::string refusal;
    size_t sessionsAfterRefusal = 0;
    Run(dialog, [&] {
        HWND main = WaitForDialogWithItem("Lumetra", DeviceList);
        ASSERT_NE(main, nullptr);
        for (int i = 0; i < 20; ++i)
            OpenCamera(main, "Lumetra Test Camera");
        for (LiveView* session : dialog.OpenSessions())
            indices.push_back(session->CameraIndex());
        Driver opener([&] { OpenCamera(main, "Lumetra Test Camera"); });
        refusal = AnswerMessageBox("Lumetra");
        opener.Join();
        sessionsAfterRefusal = dialog.OpenSessions().size();
        Click(main, IDOK);
    });
    std::sort(indices.begin(), indices.end());
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i)
        expected.push_back(i);
    EXPECT_EQ(indices, expected);
    EXPECT_EQ(refusal, "All 20 camera slots are in use.");
    EXPECT_EQ(sessionsAfterRefusal, 20u);
    EXPECT_TRUE(FindWindows("Live View").empty());
}

} // namespace
