// lumetra.exe as shipped, started as a process of its own and driven through its windows.
#include "TestCameras.h"
#include "WindowDriver.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumetra::test;

namespace {

struct Process {
    PROCESS_INFORMATION info{};
    ~Process() {
        if (info.hProcess) {
            if (::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(info.hProcess, 99);
            ::CloseHandle(info.hProcess);
            ::CloseHandle(info.hThread);
        }
    }
};

bool StartLumetra(Process& process) {
    std::wstring commandLine = L"\"" + TestCameras::BuildDirectory() + L"\\src\\lumetra.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process.info) != FALSE;
}

} // namespace

TEST(LumetraProcess, StartsWithTheCameraListAndExitEndsWithCodeZeroWithinASecond) {
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    cameras.Register(L"Lumetra Test Camera");
    Process process;
    ASSERT_TRUE(StartLumetra(process));
    HWND main = WaitForDialogWithItem("Lumetra", 1038, 20000, true);
    ASSERT_NE(main, nullptr);
    EXPECT_GE(::SendDlgItemMessageA(main, 1038, LB_GETCOUNT, 0, 0), 1);

    Click(main, IDOK);
    const DWORD start = ::GetTickCount();
    ASSERT_EQ(::WaitForSingleObject(process.info.hProcess, 5000), WAIT_OBJECT_0);
    const DWORD elapsed = ::GetTickCount() - start;
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.info.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(LumetraProcess, WithoutDevicesItReportsAndStillRuns) {
    TestCameras cameras;
    ASSERT_TRUE(cameras.loaded());
    cameras.UnregisterAll();
    Process process;
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
    EXPECT_EQ(::WaitForSingleObject(process.info.hProcess, 5000), WAIT_OBJECT_0);
    cameras.Register(L"Lumetra Test Camera");
}
