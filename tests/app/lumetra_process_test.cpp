// lumetra.exe as shipped, started as a process of its own and driven through its windows.
#include "StartProcess.h"
#include "TestCameras.h"
#include "WindowDriver.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumetra::test;

namespace {

bool StartLumetra(ChildProcess& process) {
    return process.Start("\"" + Narrow(TestCameras::BuildDirectory()) + "\\src\\lumetra.exe\"");
}

} // namespace

TEST(LumetraProcess, StartsWithTheCameraListAndExitEndsWithCodeZeroWithinASecond) {
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    cameras.Register(L"Lumetra Test Camera");
    ChildProcess process;
    ASSERT_TRUE(StartLumetra(process));
    HWND main = WaitForDialogWithItem("Lumetra", 1038, 20000, true);
    ASSERT_NE(main, nullptr);
    EXPECT_GE(::SendDlgItemMessageA(main, 1038, LB_GETCOUNT, 0, 0), 1);

    Click(main, IDOK);
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(process.WaitForExit(5000));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(process.ExitCode(), 0u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(LumetraProcess, WithoutDevicesItReportsAndStillRuns) {
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    PreparedCamerasRestorer restorer(cameras);
    cameras.UnregisterAll();
    ChildProcess process;
    ASSERT_TRUE(StartLumetra(process));
    HWND box = WaitForDialogWithItem("Error", 0xFFFF, 20000, true);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), "No such catagory");
    Answer(box, IDOK);
    HWND main = WaitForDialogWithItem("Lumetra", 1038, 10000, true);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(::SendDlgItemMessageA(main, 1038, LB_GETCOUNT, 0, 0), 1);
    // Selecting the entry copies it into the CAM edit, whose text crosses the process boundary.
    HWND list = ::GetDlgItem(main, 1038);
    ::SendMessageA(list, LB_SETCURSEL, 0, 0);
    ::SendMessageA(main, WM_COMMAND, MAKEWPARAM(1038, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(GetItemText(main, 1000), "<< No entries >>");
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(process.WaitForExit(5000));
}
