// Modal and modeless runs, keyboard routing and the notification table, through real windows.
#include "TestDialog.h"
#include "WindowDriver.h"
#include "framework/Application.h"

#include <gtest/gtest.h>

using namespace lumetra;
using namespace lumetra::test;

namespace {

class CountingApplication : public Application {
  public:
    CountingApplication() : Application("Lumetra") {}
    void OnHelp() override { ++helpRuns; }
    int helpRuns = 0;
};

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

} // namespace

TEST(Dialog, EnterReachesOnOkWhichTakesValuesAndEnds) {
    TestDialog dialog;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        SetItemText(window, IDC_NUMBER, "31");
        PressKey(FocusOf(window), VK_RETURN);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    driver.Join();
    EXPECT_EQ(dialog.okCount, 1);
    EXPECT_EQ(dialog.number, 31);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(Dialog, OkWithInvalidInputStaysOpen) {
    TestDialog dialog;
    std::string boxText;
    bool stillOpen = false;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        SetItemText(window, IDC_BYTE, "300");
        Click(window, IDOK);
        boxText = AnswerMessageBox("Lumetra");
        AwaitMessageLoop(window); // the OK handler has ended
        stillOpen = ::IsWindowVisible(window);
        Answer(window, IDCANCEL);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    driver.Join();
    EXPECT_EQ(boxText, "Please enter an integer between 0 and 255.");
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(dialog.okCount, 1);
}

TEST(Dialog, EscapeAndCloseBoxReachOnCancel) {
    TestDialog byEscape;
    Driver escape([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        PressKey(FocusOf(window), VK_ESCAPE);
    });
    EXPECT_EQ(byEscape.DoModal(), IDCANCEL);
    escape.Join();
    EXPECT_EQ(byEscape.cancelCount, 1);

    TestDialog byClose;
    Driver close([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(byClose.DoModal(), IDCANCEL);
    close.Join();
    EXPECT_EQ(byClose.cancelCount, 1);
}

TEST(Dialog, NotificationTableRoutesByIdAndCode) {
    TestDialog dialog;
    int changesBeforeTyping = -1;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(AwaitMessageLoop(window)); // the dialog is up and in its loop
        changesBeforeTyping = dialog.watchedChanges;
        SetItemText(window, IDC_WATCHED, "x");
        SetItemText(window, IDC_WATCHED, "xy");
        SendClick(window, IDC_APPLY);
        Answer(window, IDCANCEL);
    });
    dialog.DoModal();
    driver.Join();
    EXPECT_EQ(changesBeforeTyping, 0); // the refresh at start ran no handler
    EXPECT_EQ(dialog.watchedChanges, 2);
    EXPECT_EQ(dialog.applyRuns, 1);
}

TEST(Dialog, UnhandledHelpCommandReachesTheApplication) {
    CountingApplication app;
    TestDialog dialog;
    Driver driver([&] {
        HWND window = WaitForWindow("Framework Test");
        ASSERT_NE(window, nullptr);
        SendClick(window, IdHelp);
        Answer(window, IDCANCEL);
    });
    dialog.DoModal();
    driver.Join();
    EXPECT_EQ(app.helpRuns, 1);
}

TEST(Dialog, ModelessDialogDeletesItselfAfterItsWindowIsDestroyed) {
    bool destroyed = false;
    auto* dialog = new TestDialog;
    dialog->deleteOnDestroy = true;
    dialog->destroyedFlag = &destroyed;
    ASSERT_TRUE(dialog->Create());
    HWND window = dialog->GetSafeHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(::IsWindowVisible(window)); // created hidden
    EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);
    ::ShowWindow(window, SW_SHOW);
    ::DestroyWindow(window);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(::IsWindow(window));
}

TEST(Dialog, ASelfDeletingDialogDestroyedInsideItsOwnHandlerLivesUntilTheHandlerEnds) {
    bool destroyed = false;
    auto* dialog = new TestDialog;
    dialog->deleteOnDestroy = true;
    dialog->destroyedFlag = &destroyed;
    dialog->boxInApply = true;
    TestDialog::destroyedBeforeHandlerEnded = true;
    ASSERT_TRUE(dialog->Create());
    HWND window = dialog->GetSafeHwnd();
    ::ShowWindow(window, SW_SHOW);
    Driver driver([&] {
        // While the handler's box is open, the window is destroyed (as when the other window of a
        // pair closes it from the box's message loop).
        HWND box = WaitForDialogWithItem("Lumetra", 0xFFFF);
        ASSERT_NE(box, nullptr);
        ::PostMessageA(window, TestDialog::DestroyRequest, 0, 0);
    });
    Click(window, IDC_APPLY);
    PumpUntil([&] { return destroyed; }, 5000);
    driver.Join();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_FALSE(TestDialog::destroyedBeforeHandlerEnded);
}

TEST(Dialog, ModelessDialogGetsTabEnterAndEscapeFromTheLoop) {
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create());
    HWND window = dialog.GetSafeHwnd();
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetFocus(::GetDlgItem(window, IDC_NAME));
    PressKey(::GetDlgItem(window, IDC_NAME), VK_ESCAPE);
    // The program's loop pre-translates keys for its dialogs.
    MSG msg;
    const DWORD start = ::GetTickCount();
    while (dialog.cancelCount == 0 && ::GetTickCount() - start < 2000) {
        if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!Dialog::PreTranslate(msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        } else {
            ::Sleep(5);
        }
    }
    EXPECT_EQ(dialog.cancelCount, 1);
    EXPECT_FALSE(::IsWindowVisible(window)); // a modeless end only hides
    dialog.DestroyWindow();
}

TEST(Dialog, ModalRunWithAParentDisablesItAndEnablesItAgain) {
    TestDialog owner;
    ASSERT_TRUE(owner.Create());
    HWND parent = owner.GetSafeHwnd();
    TestDialog child;
    // Construct a child dialog with the parent.
    struct ChildDialog : TestDialog {
        explicit ChildDialog(HWND p) { parent_ = p; }
    } withParent(parent);
    bool parentDisabledWhileRunning = false;
    Driver driver([&] {
        HWND window = nullptr;
        for (int i = 0; i < 250 && !window; ++i) {
            for (HWND candidate : FindWindows("Framework Test"))
                if (candidate != parent)
                    window = candidate;
            ::Sleep(20);
        }
        ASSERT_NE(window, nullptr);
        parentDisabledWhileRunning = !::IsWindowEnabled(parent);
        Answer(window, IDCANCEL);
    });
    ::ShowWindow(parent, SW_SHOW);
    withParent.DoModal();
    driver.Join();
    EXPECT_TRUE(parentDisabledWhileRunning);
    EXPECT_TRUE(::IsWindowEnabled(parent));
    owner.DestroyWindow();
}
