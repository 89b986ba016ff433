// Real capture graphs on the test-pattern camera: binding, building, frames, teardown, resources.
#include <gtest/gtest.h>

#include "capture/CameraSlots.h"
#include "capture/CaptureGraph.h"
#include "capture/DeviceBinding.h"

#include "BoxWatcher.h"
#include "PatternRenderer.h"
#include "PlatformShare.h"
#include "ProcessResources.h"
#include "TestCameras.h"
#include "TestPattern.h"
#include "WindowDriver.h"

#include <gdiplus.h>
#include <tlhelp32.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace lumetra;

static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
static std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
}
using lumetra::test::PumpUntil;
using lumetra::test::ScopedTestCamera;
using lumetra::test::TestCameras;

namespace {

constexpr char NoDeviceMessage[] =
    "No video capture device fouind.\r\n\r\na device like a USB web cam is needed.";

// Answers every message box of this process while it lives; the texts of its "Error!" boxes.
class ErrorBoxWatcher {
  public:
    std::vector<std::string> texts() const {
        std::vector<std::string> texts;
        for (const lumetra::test::SeenBox& box : boxes_.Seen())
            if (box.caption == "Error!")
                texts.push_back(box.text);
        return texts;
    }

  private:
    lumetra::test::BoxWatcher boxes_{std::chrono::milliseconds(0)};
};

// While it lives, making the class in this process fails as a class the system cannot make does.
class RefusedClass : public IClassFactory {
  public:
    explicit RefusedClass(const CLSID& classId) {
        registered_ = SUCCEEDED(
            ::CoRegisterClassObject(classId, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_));
    }
    ~RefusedClass() {
        if (registered_)
            ::CoRevokeClassObject(cookie_);
    }
    bool registered() const { return registered_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override {
        *object = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  private:
    DWORD cookie_ = 0;
    bool registered_ = false;
};

// A stand-in for the session window: a top-level window with a black video host control, which
// hands WM_FRAME_READY to a test's handler.
class SessionWindow {
  public:
    SessionWindow() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &SessionWindow::Procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "CaptureGraphTestSession";
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
        ::RegisterClassA(&windowClass);
        window_ = ::CreateWindowA("CaptureGraphTestSession", "Live View", WS_OVERLAPPEDWINDOW, 20, 20, 700,
                                  560, nullptr, nullptr, windowClass.hInstance, nullptr);
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        host_ = ::CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT | WS_CLIPCHILDREN, 13, 8,
                                640, 480, window_, nullptr, windowClass.hInstance, nullptr);
        ::ShowWindow(window_, SW_SHOW);
    }
    ~SessionWindow() { ::DestroyWindow(window_); }
    HWND get() const { return window_; }
    HWND host() const { return host_; }

    std::function<void()> onFrameReady;
    int frameReadyCount = 0;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<SessionWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_FRAME_READY) {
            ++self->frameReadyCount;
            if (self->onFrameReady)
                self->onFrameReady();
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
    HWND host_ = nullptr;
};

// What a session would have composed: the frame and the path it was saved under.
struct ComposedFrame {
    std::string path;
    int width = 0, height = 0;
    std::vector<BYTE> pixels;
};

ComposedFrame ReadSlot(int cameraIndex) {
    ComposedFrame frame;
    FrameReadLock lock(cameraIndex);
    if (!lock.holdsFrame())
        return frame;
    const FrameGrabberCallback& callback = CameraSlotAt(cameraIndex).callback;
    frame.path = callback.targetPath;
    frame.width = callback.frameWidth;
    frame.height = callback.frameHeight;
    frame.pixels.assign(lock.pixels(), lock.pixels() + lock.byteCount());
    return frame;
}

int Stride(int width) {
    return (width * 3 + 3) & ~3;
}

// Pixel (x, y) in top-down coordinates of a bottom-up RGB24 frame, as r, g, b.
std::array<int, 3> PixelAt(const ComposedFrame& frame, int x, int y) {
    const size_t offset = static_cast<size_t>(frame.height - 1 - y) * Stride(frame.width) + x * 3;
    return {frame.pixels[offset + 2], frame.pixels[offset + 1], frame.pixels[offset]};
}

::testing::AssertionResult ReferencePatchesMatch(const ComposedFrame& frame) {
    for (const testcam::ReferencePatch& patch : testcam::ReferencePatches()) {
        for (int dy : {2, patch.size / 2, patch.size - 3})
            for (int dx : {2, patch.size / 2, patch.size - 3}) {
                const auto rgb = PixelAt(frame, patch.x + dx, patch.y + dy);
                if (std::abs(rgb[0] - patch.r) > 2 || std::abs(rgb[1] - patch.g) > 2 ||
                    std::abs(rgb[2] - patch.b) > 2)
                    return ::testing::AssertionFailure() << "patch at " << patch.x << "," << patch.y << " is "
                                                         << rgb[0] << "," << rgb[1] << "," << rgb[2];
            }
    }
    return ::testing::AssertionSuccess();
}

// The rows of the name area, as the camera of this name draws them.
std::vector<BYTE> NameArea(const BYTE* pixels, int width, int height) {
    const testcam::PatternArea area = testcam::kNameArea;
    std::vector<BYTE> bytes;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const BYTE* row = pixels + static_cast<size_t>(height - 1 - y) * Stride(width) + area.x * 3;
        bytes.insert(bytes.end(), row, row + area.width * 3);
    }
    return bytes;
}

std::vector<BYTE> ExpectedNameArea(const std::string& cameraName, int width, int height) {
    testcam::PatternRenderer renderer(width, height, lumetra::test::Widen(cameraName));
    std::vector<BYTE> picture(renderer.imageSize());
    renderer.Render(0, picture.data());
    return NameArea(picture.data(), width, height);
}

// The host's distance from the right and bottom edges of its window's client area.
SIZE HostMargins(const SessionWindow& session) {
    RECT windowClient{}, host{};
    ::GetClientRect(session.get(), &windowClient);
    ::GetWindowRect(session.host(), &host);
    ::MapWindowPoints(nullptr, session.get(), reinterpret_cast<POINT*>(&host), 2);
    return {windowClient.right - host.right, windowClient.bottom - host.bottom};
}

// Windows of this process, top-level and child.
int CountWindows() {
    struct Counter {
        static BOOL CALLBACK Child(HWND, LPARAM counter) {
            ++*reinterpret_cast<int*>(counter);
            return TRUE;
        }
        static BOOL CALLBACK TopLevel(HWND window, LPARAM counter) {
            DWORD processId = 0;
            ::GetWindowThreadProcessId(window, &processId);
            if (processId == ::GetCurrentProcessId()) {
                ++*reinterpret_cast<int*>(counter);
                ::EnumChildWindows(window, &Counter::Child, counter);
            }
            return TRUE;
        }
    };
    int count = 0;
    ::EnumWindows(&Counter::TopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The preview window inside the host, in the host's client coordinates.
RECT VideoWindowRect(const SessionWindow& session) {
    RECT rect{-1, -1, -1, -1};
    if (HWND video = ::GetWindow(session.host(), GW_CHILD)) {
        ::GetWindowRect(video, &rect);
        ::MapWindowPoints(nullptr, session.host(), reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

int CountThreads() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    ::CloseHandle(snapshot);
    return count;
}

class CaptureGraphTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        cameras_ = new TestCameras;
    }
    static void TearDownTestSuite() {
        delete cameras_;
        cameras_ = nullptr;
        ::CoUninitialize();
    }
    void SetUp() override {
        ASSERT_TRUE(cameras_->loaded()) << "lumetra_testcam.dll not found under LUMETRA_BUILD_DIR";
        ResetCameraSlots();
    }
    void TearDown() override { ResetCameraSlots(); }

    // Requests a frame and pumps until the session window has read one.
    static ComposedFrame GrabOne(SessionWindow& session, int cameraIndex, const std::string& path) {
        ComposedFrame frame;
        session.onFrameReady = [&] {
            ComposedFrame read = ReadSlot(cameraIndex);
            if (!read.pixels.empty())
                frame = std::move(read);
        };
        EXPECT_TRUE(RequestFrame(cameraIndex, path.c_str()));
        PumpUntil([&] { return !frame.pixels.empty(); }, 5000);
        session.onFrameReady = nullptr;
        return frame;
    }

    static TestCameras* cameras_;
};
TestCameras* CaptureGraphTest::cameras_ = nullptr;

} // namespace

TEST_F(CaptureGraphTest, FindsDevicesByTheirExactFriendlyNameOnly) {
    ScopedTestCamera camera(*cameras_, "Capture Bind Cam");
    ASSERT_TRUE(camera.registered());
    EXPECT_TRUE(FindCaptureFilter("Capture Bind Cam"));
    for (const char* other : {"capture bind cam", "Capture Bind Cam ", "Capture Bind Ca", ""})
        EXPECT_FALSE(FindCaptureFilter(other)) << "'" << other << "'";
    EXPECT_FALSE(FindCaptureFilter(nullptr));
}

TEST_F(CaptureGraphTest, BuildsWithTheTestCameraAndDeliversWholeFramesOfItsSize) {
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Graph Cam");
    ASSERT_TRUE(camera.registered());
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    CaptureGraph graph;
    ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));
    EXPECT_TRUE(errors.texts().empty());
    ASSERT_TRUE(graph.graph());
    ASSERT_TRUE(graph.grabber());
    EXPECT_EQ(CameraSlotAt(cameraIndex).callback.frameWidth, 640);
    EXPECT_EQ(std::abs(CameraSlotAt(cameraIndex).callback.frameHeight), 480);

    // The preview is a child of the host, filling it.
    ComPtr<IVideoWindow> videoWindow;
    ASSERT_TRUE(SUCCEEDED(graph.graph()->QueryInterface(
        IID_IVideoWindow, reinterpret_cast<void**>(videoWindow.GetAddressOf()))));
    OAHWND owner = 0;
    videoWindow->get_Owner(&owner);
    EXPECT_EQ(reinterpret_cast<HWND>(owner), session.host());
    EXPECT_EQ(VideoWindowRect(session), (RECT{0, 0, 640, 480}));

    const ComposedFrame frame = GrabOne(session, cameraIndex, "Z:\\tmp\\capture-graph.jpg");
    ASSERT_EQ(frame.pixels.size(), static_cast<size_t>(Stride(640) * 480));
    EXPECT_EQ(frame.path, "Z:\\tmp\\capture-graph.jpg");
    EXPECT_TRUE(ReferencePatchesMatch(frame));
    EXPECT_EQ(NameArea(frame.pixels.data(), 640, 480), ExpectedNameArea(camera.name(), 640, 480));
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameWanted.load(), 0);

    // The window grows: the host keeps its margins and the preview fills it.
    const SIZE marginsBefore = HostMargins(session);
    ::SetWindowPos(session.get(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    graph.ResizeVideo();
    const SIZE marginsAfter = HostMargins(session);
    EXPECT_EQ(marginsAfter.cx, marginsBefore.cx);
    EXPECT_EQ(marginsAfter.cy, marginsBefore.cy);
    RECT hostClient{};
    ::GetClientRect(session.host(), &hostClient);
    EXPECT_GT(hostClient.right, 640);
    EXPECT_GT(hostClient.bottom, 480);
    EXPECT_EQ(VideoWindowRect(session), hostClient);

    graph.TearDown();
    EXPECT_FALSE(graph.graph());
    EXPECT_FALSE(graph.grabber());
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, UnknownDeviceIsReportedAndItsRequestsAreNeverServed) {
    ErrorBoxWatcher errors;
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    CaptureGraph graph;
    EXPECT_FALSE(graph.Build("No Such Camera Anywhere", cameraIndex, session.host()));
    PumpUntil([&] { return !errors.texts().empty(); }, 3000);
    EXPECT_EQ(errors.texts(), std::vector<std::string>{NoDeviceMessage});
    EXPECT_FALSE(graph.running());

    ASSERT_TRUE(RequestFrame(cameraIndex, "Z:\\tmp\\never.jpg"));
    lumetra::test::PumpMessages(600); // time for an answer, which must not come
    EXPECT_EQ(session.frameReadyCount, 0);
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameWanted.load(), 1);
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameBuffer, nullptr);
    graph.TearDown();
    EXPECT_FALSE(graph.graph());
}

TEST_F(CaptureGraphTest, NoCaptureGraphBuilderIsShownAndWhenQuietKeptForTheLog) {
    ScopedTestCamera camera(*cameras_, "Capture Builderless Cam");
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    RefusedClass noBuilder(CLSID_CaptureGraphBuilder2);
    ASSERT_TRUE(noBuilder.registered());
    {
        ErrorBoxWatcher errors;
        CaptureGraph graph;
        EXPECT_FALSE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));
        PumpUntil([&] { return !errors.texts().empty(); }, 3000);
        EXPECT_EQ(errors.texts(), std::vector<std::string>{"Could not make the capture graph builder"});
        EXPECT_FALSE(graph.running());
    }
    ErrorBoxWatcher errors;
    CaptureGraph graph;
    EXPECT_FALSE(
        graph.Build(camera.name().c_str(), cameraIndex, session.host(), CaptureGraph::Failures::Quiet));
    EXPECT_EQ(graph.LastFailure(), "Could not make the capture graph builder");
    lumetra::test::PumpMessages(300); // time for a box, which must not come
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, TwoRequestsBeforeAFrameGiveOneFrameUnderTheSecondPath) {
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Twice Cam");
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    CaptureGraph graph;
    ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));

    std::vector<ComposedFrame> composed;
    session.onFrameReady = [&] {
        ComposedFrame frame = ReadSlot(cameraIndex);
        if (!frame.pixels.empty())
            composed.push_back(std::move(frame));
    };
    // Both requests are made before this thread lets any announcement through.
    ASSERT_TRUE(RequestFrame(cameraIndex, "Z:\\tmp\\first.jpg"));
    ASSERT_TRUE(RequestFrame(cameraIndex, "Z:\\tmp\\second.jpg"));
    PumpUntil([&] { return !composed.empty(); }, 5000);
    lumetra::test::PumpMessages(500); // no further frame may follow
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(composed[0].path, "Z:\\tmp\\second.jpg");
    EXPECT_TRUE(ReferencePatchesMatch(composed[0]));
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, ClosedSessionsSlotServesNothingOfItsOldRequest) {
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Reuse Cam");
    const int cameraIndex = AcquireFreeSlot();
    {
        SessionWindow oldSession;
        BindSlotToWindow(cameraIndex, oldSession.get());
        CaptureGraph graph;
        ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, oldSession.host()));
        ASSERT_FALSE(GrabOne(oldSession, cameraIndex, "Z:\\tmp\\old-a.jpg").pixels.empty());
        ASSERT_NE(CameraSlotAt(cameraIndex).frameBuffer, nullptr);
        graph.TearDown();
        // A request left pending as the session closes.
        ASSERT_TRUE(RequestFrame(cameraIndex, "Z:\\tmp\\old-b.jpg"));
        ReleaseSlot(cameraIndex);
    }
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameBuffer, nullptr);
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameWanted.load(), 0);

    ASSERT_EQ(AcquireFreeSlot(), cameraIndex);
    SessionWindow newSession;
    BindSlotToWindow(cameraIndex, newSession.get());
    CaptureGraph graph;
    ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, newSession.host()));
    lumetra::test::PumpMessages(800); // several frames pass
    EXPECT_EQ(newSession.frameReadyCount, 0);
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameBuffer, nullptr);
    const ComposedFrame frame = GrabOne(newSession, cameraIndex, "Z:\\tmp\\new.jpg");
    EXPECT_EQ(frame.path, "Z:\\tmp\\new.jpg");
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, TeardownLeavesNoThreadRunning) {
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Thread Cam");
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    // A first graph brings up whatever the system keeps for the process afterwards.
    {
        CaptureGraph warmUp;
        ASSERT_TRUE(warmUp.Build(camera.name().c_str(), cameraIndex, session.host()));
    }
    lumetra::test::PumpMessages(300); // its own threads end in their own time; what stays is counted
    const int threadsBefore = CountThreads();
    ASSERT_GT(threadsBefore, 0);

    CaptureGraph graph;
    ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));
    ASSERT_FALSE(GrabOne(session, cameraIndex, "Z:\\tmp\\threads.jpg").pixels.empty());
    EXPECT_GT(CountThreads(), threadsBefore); // the streaming thread at least
    graph.TearDown();
    PumpUntil([&] { return CountThreads() <= threadsBefore; }, 3000);
    EXPECT_EQ(CountThreads(), threadsBefore);

    // Frames stopped with it: a request now stays pending.
    ASSERT_TRUE(RequestFrame(cameraIndex, "Z:\\tmp\\after.jpg"));
    lumetra::test::PumpMessages(400); // time for a frame, which must not come
    EXPECT_EQ(CameraSlotAt(cameraIndex).frameWanted.load(), 1);
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, TwentyCamerasAtOnceEachDeliverTheirOwnPicture) {
    ErrorBoxWatcher errors;
    std::vector<std::unique_ptr<ScopedTestCamera>> cameraList;
    std::vector<std::unique_ptr<SessionWindow>> sessions;
    std::vector<std::unique_ptr<CaptureGraph>> graphs;
    for (int i = 0; i < MaxCameraSlots; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Capture Crowd Cam %02d", i + 1);
        cameraList.push_back(std::make_unique<ScopedTestCamera>(*cameras_, name));
        ASSERT_TRUE(cameraList.back()->registered()) << name;
    }
    for (int i = 0; i < MaxCameraSlots; ++i) {
        const int cameraIndex = AcquireFreeSlot();
        ASSERT_EQ(cameraIndex, i);
        sessions.push_back(std::make_unique<SessionWindow>());
        BindSlotToWindow(cameraIndex, sessions.back()->get());
        graphs.push_back(std::make_unique<CaptureGraph>());
        ASSERT_TRUE(
            graphs.back()->Build(cameraList[i]->name().c_str(), cameraIndex, sessions.back()->host()));
    }
    EXPECT_EQ(AcquireFreeSlot(), -1);

    std::vector<ComposedFrame> frames(MaxCameraSlots);
    for (int i = 0; i < MaxCameraSlots; ++i) {
        sessions[i]->onFrameReady = [&frames, i] {
            ComposedFrame frame = ReadSlot(i);
            if (!frame.pixels.empty())
                frames[i] = std::move(frame);
        };
        ASSERT_TRUE(RequestFrame(i, ("Z:\\tmp\\crowd" + std::to_string(i) + ".jpg").c_str()));
    }
    PumpUntil(
        [&] {
            for (const ComposedFrame& frame : frames)
                if (frame.pixels.empty())
                    return false;
            return true;
        },
        15000);
    for (int i = 0; i < MaxCameraSlots; ++i) {
        SCOPED_TRACE(cameraList[i]->name());
        ASSERT_EQ(frames[i].pixels.size(), static_cast<size_t>(Stride(640) * 480));
        EXPECT_EQ(frames[i].path, "Z:\\tmp\\crowd" + std::to_string(i) + ".jpg");
        EXPECT_TRUE(ReferencePatchesMatch(frames[i]));
        EXPECT_EQ(NameArea(frames[i].pixels.data(), 640, 480),
                  ExpectedNameArea(cameraList[i]->name(), 640, 480));
    }
    graphs.clear();
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, RepeatedBuildAndTeardownLeaveHandlesAndGdiObjectsWhereTheyWere) {
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Cycle Cam");
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    auto cycle = [&] {
        CaptureGraph graph;
        EXPECT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));
        graph.TearDown();
        lumetra::test::PumpMessages(0);
    };
    // The platform's own share: Wine's device enumerator and filter graph manager keep a few
    // handles per use (on Windows this is 0). Counted by the same calls made directly.
    auto platformCycle = [] { lumetra::test::DirectShowPlatformCycle(); };
    struct Counts {
        int handles, gdiObjects, windows, threads;
    };
    auto counts = [] {
        lumetra::test::PumpMessages(200); // ending threads and queued messages go before each count
        const lumetra::test::ResourceCounts resources = lumetra::test::CurrentResources();
        return Counts{static_cast<int>(resources.handles), static_cast<int>(resources.gdiObjects),
                      CountWindows(), CountThreads()};
    };
    for (int i = 0; i < 10; ++i)
        cycle();
    const Counts platformBefore = counts();
    for (int i = 0; i < 200; ++i)
        platformCycle();
    const Counts before = counts();
    ASSERT_GT(before.handles, 0);
    ASSERT_GT(before.gdiObjects, 0);
    for (int i = 0; i < 200; ++i)
        cycle();
    const Counts after = counts();
    const int platformHandles = before.handles - platformBefore.handles;
    std::printf("200 cycles: handles %d -> %d (platform alone %+d), GDI objects %d -> %d, windows %d -> %d, "
                "threads %d -> %d\n",
                before.handles, after.handles, platformHandles, before.gdiObjects, after.gdiObjects,
                before.windows, after.windows, before.threads, after.threads);
    EXPECT_LE(after.handles - before.handles, platformHandles + 10);
    EXPECT_LE(after.gdiObjects, before.gdiObjects + 10);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_LE(after.threads, before.threads);
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(CaptureGraphTest, FrameReadyHandlingWritesTheRequestedFrameAsJpeg) {
    Gdiplus::GdiplusStartupInput startupInput;
    ULONG_PTR gdiplusToken = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr), Gdiplus::Ok);
    ErrorBoxWatcher errors;
    ScopedTestCamera camera(*cameras_, "Capture Save Cam");
    SessionWindow session;
    const int cameraIndex = AcquireFreeSlot();
    BindSlotToWindow(cameraIndex, session.get());
    CaptureGraph graph;
    ASSERT_TRUE(graph.Build(camera.name().c_str(), cameraIndex, session.host()));

    char directory[MAX_PATH]{};
    ::GetTempPathA(MAX_PATH, directory);
    const std::string path = std::string(directory) + "lumetra-capture-save.jpg";
    ::DeleteFileA(path.c_str());
    int saved = 0;
    session.onFrameReady = [&] {
        if (HandleFrameReady(cameraIndex).handled != FrameHandled::NoFrame)
            ++saved;
    };
    ASSERT_TRUE(RequestFrame(cameraIndex, path.c_str()));
    PumpUntil([&] { return saved > 0; }, 5000);
    EXPECT_EQ(saved, 1);

    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char start[2]{};
    EXPECT_EQ(std::fread(start, 1, 2, file), 2u);
    std::fclose(file);
    EXPECT_EQ(start[0], 0xFF);
    EXPECT_EQ(start[1], 0xD8);
    {
        std::unique_ptr<Gdiplus::Bitmap> image(Gdiplus::Bitmap::FromFile(lumetra::test::Widen(path).c_str()));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->GetWidth(), 640u);
        EXPECT_EQ(image->GetHeight(), 480u);
    }
    ::DeleteFileA(path.c_str());

    // A path that does not fit is refused: no request, no file.
    const std::string tooLong = std::string(directory) + std::string(300, 'x') + ".jpg";
    EXPECT_FALSE(RequestFrame(cameraIndex, tooLong.c_str()));
    lumetra::test::PumpMessages(400); // time for a frame, which must not come
    EXPECT_EQ(saved, 1);
    graph.TearDown();
    Gdiplus::GdiplusShutdown(gdiplusToken);
    EXPECT_TRUE(errors.texts().empty());
}
