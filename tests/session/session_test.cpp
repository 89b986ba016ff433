// A camera session on real test-pattern cameras: the Live View and CAM ACTION pair, the frame
// request of a save, the slot a session holds, and the preview's size.
#include "BoxWatcher.h"
#include "SessionHarness.h"
#include "TestCameras.h"
#include "TestPattern.h"
#include "WindowDriver.h"
#include "capture/CameraSlots.h"
#include "framework/Handles.h"

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include <string>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {

const std::string kCamera = "Session Cam";
const std::string kSecondCamera = "Session Cam Two";
const std::string kNoDevice = "Session Cam Nowhere";

class SessionTest : public OneCameraTest {
  protected:
    SessionTest() : OneCameraTest(kCamera) {}
    void SetUp() override {
        OneCameraTest::SetUp();
        DeleteCameraKey(kSecondCamera);
        DeleteCameraKey(kNoDevice);
    }
    // Waits until the session has written `count` images in all.
    static bool WaitForImages(LiveView* session, std::uint64_t count, DWORD timeoutMs = 5000) {
        return PumpUntil([&] { return session->ImagesWritten() >= count; }, timeoutMs);
    }
};

TEST_F(SessionTest, ClosingTheLiveViewClosesCamActionAndSavesItsSettings) {
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    ASSERT_NE(action, nullptr);
    HWND liveView = session->GetSafeHwnd();
    HWND actionWindow = action->GetSafeHwnd();
    EXPECT_TRUE(session->Graph().running());
    SetEdit(action, ids::SaveSeconds, "7");
    SetEdit(action, ids::FileName, "door");

    ::SendMessageA(liveView, WM_CLOSE, 0, 0); // the close box: posts its Cancel command
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(liveView); }, 3000));
    EXPECT_FALSE(::IsWindow(actionWindow));
    EXPECT_TRUE(main.dialog().OpenSessions().empty());
    EXPECT_EQ(StoredText(kCamera, "OFS").value_or("<missing>"), "7");
    EXPECT_EQ(StoredText(kCamera, "FIN").value_or("<missing>"), "door");
}

TEST_F(SessionTest, EscapeInCamActionClosesTheLiveViewAndSaves) {
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    HWND liveView = session->GetSafeHwnd();
    HWND actionWindow = action->GetSafeHwnd();
    SetEdit(action, ids::FileName, "porch");

    PressKey(action->Item(ids::FileName), VK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(actionWindow); }, 3000));
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(liveView); }, 3000));
    EXPECT_TRUE(main.dialog().OpenSessions().empty());
    EXPECT_EQ(StoredText(kCamera, "FIN").value_or("<missing>"), "porch");
}

TEST_F(SessionTest, ExitAndTheCloseBoxOfTheListCloseEveryCameraSaveAndStopTheGraphs) {
    ScopedTestCamera second(cameras, kSecondCamera);
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Exit");
        MainWindow main;
        LiveView* first = main.Open(kCamera);
        LiveView* other = main.Open(kSecondCamera);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(other, nullptr);
        EXPECT_NE(first->CameraIndex(), other->CameraIndex());
        EXPECT_TRUE(first->Graph().running());
        EXPECT_TRUE(other->Graph().running());
        EXPECT_NE(cameras.CanUnloadNow(), S_OK); // two filters of the camera DLL are alive
        const std::string seconds = closeBox ? "11" : "12";
        SetEdit(first->ActionDialog(), ids::SaveSeconds, seconds);
        SetEdit(other->ActionDialog(), ids::FileName, "other" + seconds);
        const int firstIndex = first->CameraIndex();

        if (closeBox) {
            ::SendMessageA(main.hwnd(), WM_CLOSE, 0, 0); // posts its Cancel command
        } else
            main.Exit();
        EXPECT_TRUE(PumpUntil([&] { return main.dialog().OpenSessions().empty(); }, 3000));
        EXPECT_TRUE(FindWindows("Live View").empty());
        EXPECT_TRUE(FindWindows("CAM ACTION").empty());
        EXPECT_EQ(StoredText(kCamera, "OFS").value_or("<missing>"), seconds);
        EXPECT_EQ(StoredText(kSecondCamera, "FIN").value_or("<missing>"), "other" + seconds);
        // The graphs are down: no object of the camera DLL is left and no slot is held.
        EXPECT_TRUE(PumpUntil([&] { return cameras.CanUnloadNow() == S_OK; }, 3000));
        EXPECT_EQ(CameraSlotAt(firstIndex).sessionWindow.load(), nullptr);
        EXPECT_FALSE(CameraSlotAt(firstIndex).held);
    }
}

TEST_F(SessionTest, SaveCurrentImageWritesTheCurrentFrameAsJpeg) {
    TempFolder folder("save");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    SetEdit(action, ids::Directory, folder.path());
    SetEdit(action, ids::FileName, "snap");
    PressButton(action, ids::SaveCurrentImage);
    ASSERT_TRUE(WaitForImages(session, 1));
    const std::string path = folder.File("snap.jpg");
    ASSERT_TRUE(IsJpeg(path));
    for (const testcam::ReferencePatch& patch : testcam::ReferencePatches()) {
        COLORREF colour = 0;
        ASSERT_TRUE(ImagePixel(path, patch.x + patch.size / 2, patch.y + patch.size / 2, colour));
        EXPECT_TRUE(Near(colour, RGB(patch.r, patch.g, patch.b), 24))
            << "patch at " << patch.x << "," << patch.y << " reads " << std::hex << colour;
    }
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"snap.jpg"});
}

// A folder named outside the system's ANSI code page: the path passes whole from the edit to the file.
TEST_F(SessionTest, AnImageIsSavedIntoAFolderNamedOutsideTheAnsiCodePage) {
    TempFolder folder("unicode");
    const std::wstring wideFolder = Widen(folder.path()) + L"\\K\u00fcche \u6771\u4eac";
    ASSERT_TRUE(::CreateDirectoryW(wideFolder.c_str(), nullptr));
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    SetEdit(session->ActionDialog(), ids::Directory,
            folder.path() + reinterpret_cast<const char*>(u8"\\K\u00fcche \u6771\u4eac"));
    PressButton(session->ActionDialog(), ids::SaveCurrentImage);
    ASSERT_TRUE(WaitForImages(session, 1));
    std::unique_ptr<Gdiplus::Bitmap> image(Gdiplus::Bitmap::FromFile((wideFolder + L"\\image.jpg").c_str()));
    ASSERT_TRUE(image && image->GetLastStatus() == Gdiplus::Ok) << "no image.jpg in the folder";
    EXPECT_EQ(image->GetWidth(), static_cast<UINT>(testcam::kFrameSizes[0].width));
}

TEST_F(SessionTest, TwoRequestsBeforeAFrameGiveOneFileUnderTheSecondPath) {
    TempFolder folder("two");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    // A first image: the camera delivers frames.
    ASSERT_TRUE(session->SaveSnapshot(folder.File("warm-up.jpg")));
    ASSERT_TRUE(WaitForImages(session, 1));
    ASSERT_TRUE(::DeleteFileA(folder.File("warm-up.jpg").c_str()));
    // Back to back: no frame can come in between.
    ASSERT_TRUE(RequestFrame(session->CameraIndex(), folder.File("first.jpg").c_str()));
    ASSERT_TRUE(RequestFrame(session->CameraIndex(), folder.File("second.jpg").c_str()));
    ASSERT_TRUE(PumpUntil([&] { return FileExists(folder.File("second.jpg")); }, 3000));
    PumpMessages(400); // time for a second frame, which must not come
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"second.jpg"});
    EXPECT_TRUE(IsJpeg(folder.File("second.jpg")));

    // Two snapshots without the frame-ready message being handled in between.
    const std::uint64_t before = session->ImagesWritten();
    session->SaveSnapshot(folder.File("third.jpg"));
    session->SaveSnapshot(folder.File("fourth.jpg"));
    ASSERT_TRUE(WaitForImages(session, before + 1));
    PumpMessages(400); // time for a second image, which must not come
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"fourth.jpg", "second.jpg"}));
}

TEST_F(SessionTest, ARequestLeftPendingByAClosedSessionIsNotServedToTheNextOnItsSlot) {
    TempFolder folder("pending");
    MainWindow main;
    LiveView* nowhere = main.Open(kNoDevice, true);
    ASSERT_NE(nowhere, nullptr);
    EXPECT_FALSE(nowhere->Graph().running());
    const int slot = nowhere->CameraIndex();
    nowhere->SaveSnapshot(folder.File("old.jpg"));
    EXPECT_EQ(CameraSlotAt(slot).frameWanted.load(), 1); // never answered
    ::SendMessageA(nowhere->GetSafeHwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !main.dialog().HasSession(nowhere); }, 3000));
    EXPECT_EQ(CameraSlotAt(slot).frameWanted.load(), 0);
    EXPECT_EQ(CameraSlotAt(slot).callback.targetPath[0], '\0');

    LiveView* next = main.Open(kCamera);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->CameraIndex(), slot);
    PumpMessages(1000); // frames pass: the old request must not be served by any of them
    EXPECT_FALSE(FileExists(folder.File("old.jpg")));
    EXPECT_EQ(next->ImagesWritten(), 0u);
}

TEST_F(SessionTest, ANameThatMatchesNoDeviceStaysOpenAndItsRequestsAreNeverAnswered) {
    TempFolder folder("nowhere");
    MainWindow main;
    LiveView* session = main.Open(kNoDevice, true);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(::IsWindowVisible(session->GetSafeHwnd()));
    EXPECT_TRUE(::IsWindowVisible(session->ActionDialog()->GetSafeHwnd()));
    EXPECT_TRUE(main.dialog().HasSession(session));
    SetEdit(session->ActionDialog(), ids::Directory, folder.path());
    PressButton(session->ActionDialog(), ids::SaveCurrentImage);
    PumpMessages(500); // time for an answer, which must not come
    EXPECT_EQ(CameraSlotAt(session->CameraIndex()).frameWanted.load(), 1);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(session->ImagesWritten(), 0u);
    // Waiting for the image of a graph that never ran does not hold the user up.
    const DWORD start = ::GetTickCount();
    session->WaitForRequestedImage();
    EXPECT_LT(::GetTickCount() - start, 500u);
}

TEST_F(SessionTest, APathOf260BytesOrMoreIsRefusedAndOneOf259Saved) {
    TempFolder folder("long");
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    const std::string directory = folder.path() + "\\";
    const size_t nameLength = 259 - directory.size() - 4; // ".jpg"
    const std::string fits = directory + std::string(nameLength, 'a') + ".jpg";
    const std::string tooLong = directory + std::string(nameLength + 1, 'b') + ".jpg";
    ASSERT_EQ(fits.size(), 259u);

    session->SaveSnapshot(tooLong);
    EXPECT_EQ(CameraSlotAt(session->CameraIndex()).frameWanted.load(), 0);
    PumpMessages(400); // time for a frame, which must not be written
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(session->ImagesWritten(), 0u);

    session->SaveSnapshot(fits);
    ASSERT_TRUE(WaitForImages(session, 1));
    EXPECT_TRUE(IsJpeg(fits));
}

// What a careless user types into the folder and file name: each save is refused or told at once,
// and no image is written over the kept one or outside the chosen folder.
TEST_F(SessionTest, CarelessFoldersAndNamesAreToldAndNoImageIsOverwrittenOrWrittenElsewhere) {
    TempFolder root("careless");
    const std::string shots = root.File("shots");
    ASSERT_TRUE(::CreateDirectoryA(shots.c_str(), nullptr));
    const std::string kept = shots + "\\keep.jpg";
    const auto keptText = [&] {
        std::ifstream in(kept, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    CamActionDialog* action = session->ActionDialog();
    SetEdit(action, ids::Directory, shots);
    SetEdit(action, ids::FileName, "keep");
    PressButton(action, ids::SaveCurrentImage);
    ASSERT_TRUE(WaitForImages(session, 1));
    std::ofstream(kept) << "kept"; // the last image: no later save may write over it
    BoxWatcher boxes;
    const std::string plain =
        "Please enter a file name without a folder: none of \\ / : * ? \" < > |, no .., no "
        "dot or space at the end, and no device name such as con or nul.";
    const std::string cannot = "Could not save the image to ";
    struct Careless {
        std::string directory, fileName, message;
        int field; // the field a refusal selects, 0 for a failed save
    };
    const Careless inputs[] = {
        {shots, std::string(300, 'n'), "Please enter no more than 256 characters.", ids::FileName},
        {"", "fresh", "Please enter the folder to save the images in.", ids::Directory},
        {shots, "..\\..\\x", plain, ids::FileName},
        {shots, "a/b", plain, ids::FileName},
        {shots, "con", plain, ids::FileName},
        {shots, "nul.txt", plain, ids::FileName},
        {"C:\\no\\such\\folder", "x", cannot + "C:\\no\\such\\folder\\x.jpg: the folder does not exist.", 0},
        {"C:\\con", "x", cannot + "C:\\con\\x.jpg: it is not a folder.", 0},
        {"\\\\nohost\\share", "x", cannot + "\\\\nohost\\share\\x.jpg: the network folder cannot be reached.",
         0},
    };
    for (const Careless& input : inputs) {
        SCOPED_TRACE("folder '" + input.directory + "', name '" + input.fileName.substr(0, 20) + "'");
        SetEdit(action, ids::Directory, input.directory);
        SetEdit(action, ids::FileName, input.fileName);
        const size_t seen = boxes.Seen().size();
        PressButton(action, ids::SaveCurrentImage);
        ASSERT_EQ(boxes.Seen().size(), seen + 1);
        EXPECT_EQ(boxes.Seen().back().text, input.message);
        EXPECT_EQ(boxes.Seen().back().owner, action->GetSafeHwnd());
        if (input.field) {
            EXPECT_EQ(::GetFocus(), action->Item(input.field));
        }
    }
    PumpMessages(1000); // time for frames, none of which may be written
    EXPECT_EQ(session->ImagesWritten(), 1u);
    EXPECT_EQ(keptText(), "kept");
    EXPECT_EQ(root.Files(), std::vector<std::string>{"shots"});
    EXPECT_FALSE(FileExists(root.path() + "\\..\\x.jpg"));

    // The folder is there but the file is held open elsewhere: told once the frame has come.
    SetEdit(action, ids::Directory, shots);
    SetEdit(action, ids::FileName, "keep");
    UniqueFile holder(::CreateFileA(kept.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    PressButton(action, ids::SaveCurrentImage);
    EXPECT_TRUE(PumpUntil([&] { return session->SavesFailed() == 1; }, 5000));
    holder.reset();
    ASSERT_FALSE(boxes.Seen().empty());
    EXPECT_EQ(boxes.Seen().back().text, cannot + kept + ": the file is in use.");
    EXPECT_EQ(boxes.Seen().back().owner, action->GetSafeHwnd());
    EXPECT_EQ(keptText(), "kept");
}

TEST_F(SessionTest, TheVideoAndTheNameFollowTheLiveViewWhenTheUserResizesIt) {
    MainWindow main;
    LiveView* session = main.Open(kCamera);
    ASSERT_NE(session, nullptr);
    HWND liveView = session->GetSafeHwnd();
    HWND host = ::GetDlgItem(liveView, live_view_ids::VideoHost);
    HWND name = ::GetDlgItem(liveView, live_view_ids::CameraNameEdit);
    HWND video = ::GetWindow(host, GW_CHILD);
    ASSERT_NE(video, nullptr);
    RECT hostBefore{}, windowBefore{}, nameBefore{}, nameAfter{};
    ::GetClientRect(host, &hostBefore);
    ::GetWindowRect(liveView, &windowBefore);
    ::GetWindowRect(name, &nameBefore);

    RECT hostAfter{}, videoWindow{};
    // The video window is the renderer's, which may size it from a thread of its own.
    const auto videoFillsHost = [&] {
        ::GetClientRect(host, &hostAfter);
        ::GetWindowRect(video, &videoWindow);
        return videoWindow.right - videoWindow.left == hostAfter.right &&
               videoWindow.bottom - videoWindow.top == hostAfter.bottom;
    };
    ::SetWindowPos(liveView, nullptr, 0, 0, windowBefore.right - windowBefore.left + 200,
                   windowBefore.bottom - windowBefore.top + 100, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(PumpUntil(videoFillsHost, 3000));
    EXPECT_EQ(hostAfter.right, hostBefore.right + 200);
    EXPECT_EQ(hostAfter.bottom, hostBefore.bottom + 100);
    // The window's top-left corner stays: the name moves with the bottom edge, below the picture.
    ::GetWindowRect(name, &nameAfter);
    EXPECT_EQ(nameAfter.top, nameBefore.top + 100);
    EXPECT_EQ(nameAfter.left, nameBefore.left);

    ::SetWindowPos(liveView, nullptr, 0, 0, windowBefore.right - windowBefore.left - 100,
                   windowBefore.bottom - windowBefore.top - 50, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(PumpUntil(videoFillsHost, 3000));
    EXPECT_EQ(hostAfter.right, hostBefore.right - 100);
    ::GetWindowRect(name, &nameAfter);
    EXPECT_EQ(nameAfter.top, nameBefore.top - 50);
}

} // namespace
