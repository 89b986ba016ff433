// The camera slots and the frame hand-off, driven with frames of our own on our own threads.
#include <gtest/gtest.h>

#include "capture/CameraSlots.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace lumetra;

namespace {

// A hidden window that counts the WM_FRAME_READY messages it receives.
class FrameReadyWindow {
  public:
    FrameReadyWindow() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &FrameReadyWindow::Procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "CaptureSlotsTestWindow";
        ::RegisterClassA(&windowClass);
        window_ = ::CreateWindowA("CaptureSlotsTestWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FrameReadyWindow() { ::DestroyWindow(window_); }
    HWND get() const { return window_; }

    // Handles what is posted so far; returns the number of WM_FRAME_READY messages seen in total.
    int Pump() {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
        return frameReadyCount;
    }

    int frameReadyCount = 0;
    std::function<void()> onFrameReady;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FrameReadyWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_FRAME_READY) {
            ++self->frameReadyCount;
            if (self->onFrameReady)
                self->onFrameReady();
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
};

std::vector<BYTE> Frame(size_t length, BYTE value) {
    return std::vector<BYTE>(length, value);
}

class CameraSlotsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetCameraSlots(); }
    void TearDown() override { ResetCameraSlots(); }

    // Delivers a frame as the Sample Grabber would, on a streaming thread of its own.
    static HRESULT Deliver(int cameraIndex, double sampleTime, BYTE* buffer, LONG length) {
        HRESULT result = E_FAIL;
        std::thread streaming(
            [&] { result = CameraSlotAt(cameraIndex).callback.BufferCB(sampleTime, buffer, length); });
        streaming.join();
        return result;
    }
    static HRESULT Deliver(int cameraIndex, std::vector<BYTE>& frame, double sampleTime = 1.5) {
        return Deliver(cameraIndex, sampleTime, frame.data(), static_cast<LONG>(frame.size()));
    }
};

} // namespace

TEST_F(CameraSlotsTest, CallbackAnswersOnlyItsInterfacesAndCountsNothing) {
    FrameGrabberCallback& callback = CameraSlotAt(3).callback;
    void* object = nullptr;
    EXPECT_EQ(callback.QueryInterface(IID_ISampleGrabberCB, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&callback));
    object = nullptr;
    EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<ISampleGrabberCB*>(&callback));
    object = &callback;
    EXPECT_EQ(callback.QueryInterface(IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(callback.AddRef(), 2u);
    EXPECT_EQ(callback.Release(), 1u);
    EXPECT_EQ(callback.SampleCB(0.0, nullptr), S_OK);
}

TEST_F(CameraSlotsTest, ResetGivesEveryCallbackItsPositionAndEmptiesTheSlots) {
    std::vector<BYTE> frame = Frame(64, 7);
    FrameReadyWindow window;
    BindSlotToWindow(4, window.get());
    ASSERT_TRUE(RequestFrame(4, "C:\\a.jpg"));
    ASSERT_EQ(Deliver(4, frame), S_OK);
    CameraSlotAt(9).callback.cameraIndex = 0;
    ASSERT_EQ(AcquireFreeSlot(), 0);

    ResetCameraSlots();
    for (int index = 0; index < MaxCameraSlots; ++index) {
        const CameraSlot& slot = CameraSlotAt(index);
        EXPECT_EQ(slot.callback.cameraIndex, index);
        EXPECT_EQ(slot.frameWanted.load(), 0);
        EXPECT_EQ(slot.sessionWindow.load(), nullptr);
        EXPECT_EQ(slot.frameBuffer, nullptr);
        EXPECT_EQ(slot.frameBufferSize, 0);
        EXPECT_FALSE(slot.held);
    }
    EXPECT_EQ(AcquireFreeSlot(), 0);
}

TEST_F(CameraSlotsTest, SessionsGetTheLowestFreeSlotAndTheTwentyFirstGetsNone) {
    for (int expected = 0; expected < MaxCameraSlots; ++expected)
        EXPECT_EQ(AcquireFreeSlot(), expected);
    EXPECT_EQ(AcquireFreeSlot(), -1);
    ReleaseSlot(12);
    ReleaseSlot(5);
    EXPECT_EQ(AcquireFreeSlot(), 5);
    EXPECT_EQ(AcquireFreeSlot(), 12);
    EXPECT_EQ(AcquireFreeSlot(), -1);
    ReleaseSlot(-1); // ignored
    ReleaseSlot(MaxCameraSlots);
    EXPECT_EQ(AcquireFreeSlot(), -1);
}

TEST_F(CameraSlotsTest, RequestCopiesThePathAndRefusesWhatDoesNotFit) {
    const std::string longest(TargetPathCapacity - 1, 'p');
    ASSERT_TRUE(RequestFrame(2, longest.c_str()));
    EXPECT_EQ(std::string(CameraSlotAt(2).callback.targetPath), longest);
    EXPECT_EQ(CameraSlotAt(2).frameWanted.load(), 1);

    // Too long by one: refused, the slot keeps what it had.
    CameraSlotAt(2).frameWanted = 0;
    const std::string tooLong(TargetPathCapacity, 'q');
    EXPECT_FALSE(RequestFrame(2, tooLong.c_str()));
    EXPECT_EQ(std::string(CameraSlotAt(2).callback.targetPath), longest);
    EXPECT_EQ(CameraSlotAt(2).frameWanted.load(), 0);
    EXPECT_EQ(CameraSlotAt(2).callback.targetPath[TargetPathCapacity - 1], '\0');

    EXPECT_FALSE(RequestFrame(2, std::string(5000, 'r').c_str()));
    EXPECT_FALSE(RequestFrame(2, nullptr));
    EXPECT_FALSE(RequestFrame(-1, "C:\\x.jpg"));
    EXPECT_FALSE(RequestFrame(MaxCameraSlots, "C:\\x.jpg"));
    EXPECT_EQ(CameraSlotAt(2).frameWanted.load(), 0);
}

TEST_F(CameraSlotsTest, UnrequestedFramesAreDroppedAtOnce) {
    FrameReadyWindow window;
    BindSlotToWindow(0, window.get());
    std::vector<BYTE> frame = Frame(300, 1);
    const DWORD start = ::GetTickCount();
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(CameraSlotAt(0).callback.BufferCB(0.0, frame.data(), 300), S_OK);
    EXPECT_LT(::GetTickCount() - start, 50u); // no wait on the streaming thread
    EXPECT_EQ(CameraSlotAt(0).frameBuffer, nullptr);
    EXPECT_EQ(window.Pump(), 0);
}

TEST_F(CameraSlotsTest, RequestedFrameIsCopiedAnnouncedAndReadable) {
    FrameReadyWindow window;
    BindSlotToWindow(6, window.get());
    std::vector<BYTE> frame(640 * 480 * 3);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<BYTE>(i * 31 + 7);
    ASSERT_TRUE(RequestFrame(6, "Z:\\tmp\\one.jpg"));

    const DWORD start = ::GetTickCount();
    EXPECT_EQ(Deliver(6, frame, 2.25), S_OK);
    EXPECT_GE(::GetTickCount() - start, 90u); // the streaming thread's pause after a copied frame
    EXPECT_EQ(CameraSlotAt(6).frameWanted.load(), 0);

    bool checked = false;
    window.onFrameReady = [&] {
        FrameReadLock lock(6);
        ASSERT_TRUE(lock.holdsFrame());
        EXPECT_EQ(lock.sampleTime(), 2.25);
        ASSERT_EQ(lock.byteCount(), frame.size());
        EXPECT_EQ(std::memcmp(lock.pixels(), frame.data(), frame.size()), 0);
        EXPECT_STREQ(CameraSlotAt(6).callback.targetPath, "Z:\\tmp\\one.jpg");
        checked = true;
    };
    EXPECT_EQ(window.Pump(), 1);
    EXPECT_TRUE(checked);
    // Read once: a second look finds nothing new.
    FrameReadLock again(6);
    EXPECT_FALSE(again.holdsFrame());
    // Served: the next frame is not copied.
    frame[0] ^= 0xFF;
    EXPECT_EQ(Deliver(6, frame), S_OK);
    EXPECT_EQ(window.Pump(), 1);
    EXPECT_NE(CameraSlotAt(6).frameBuffer[0], frame[0]);
}

TEST_F(CameraSlotsTest, TwoRequestsBeforeAFrameGiveOneFrameUnderTheSecondPath) {
    FrameReadyWindow window;
    BindSlotToWindow(1, window.get());
    ASSERT_TRUE(RequestFrame(1, "C:\\first.jpg"));
    ASSERT_TRUE(RequestFrame(1, "C:\\second.jpg"));
    std::vector<BYTE> frame = Frame(1000, 9), next = Frame(1000, 10);
    EXPECT_EQ(Deliver(1, frame), S_OK);
    EXPECT_EQ(Deliver(1, next), S_OK);
    std::vector<std::string> paths;
    window.onFrameReady = [&] {
        FrameReadLock lock(1);
        if (lock.holdsFrame())
            paths.push_back(CameraSlotAt(1).callback.targetPath);
        EXPECT_EQ(lock.pixels()[0], 9);
    };
    EXPECT_EQ(window.Pump(), 1);
    EXPECT_EQ(paths, std::vector<std::string>{"C:\\second.jpg"});
}

TEST_F(CameraSlotsTest, BufferGrowsOnlyForALargerFrame) {
    FrameReadyWindow window;
    BindSlotToWindow(7, window.get());
    auto serve = [&](size_t length, BYTE value) {
        std::vector<BYTE> frame = Frame(length, value);
        EXPECT_TRUE(RequestFrame(7, "C:\\f.jpg"));
        EXPECT_EQ(Deliver(7, frame), S_OK);
        FrameReadLock lock(7);
        EXPECT_TRUE(lock.holdsFrame());
        EXPECT_EQ(lock.byteCount(), length);
        EXPECT_EQ(lock.pixels()[length - 1], value);
    };
    const CameraSlot& slot = CameraSlotAt(7);
    serve(1000, 1);
    EXPECT_EQ(slot.frameBufferSize, 1000);
    const BYTE* first = slot.frameBuffer;
    ASSERT_NE(first, nullptr);
    serve(1000, 2);
    EXPECT_EQ(slot.frameBuffer, first);
    EXPECT_EQ(slot.frameBufferSize, 1000);
    serve(999, 3); // shorter: same buffer, the size of the allocation kept
    EXPECT_EQ(slot.frameBuffer, first);
    EXPECT_EQ(slot.frameBufferSize, 1000);
    EXPECT_EQ(slot.frameLength, 999u);
    serve(1001, 4);
    EXPECT_EQ(slot.frameBufferSize, 1001);
    EXPECT_EQ(slot.frameLength, 1001u);
    window.Pump();
}

TEST_F(CameraSlotsTest, NullSampleBufferConsumesTheRequestAndAnnouncesNothing) {
    FrameReadyWindow window;
    BindSlotToWindow(8, window.get());
    ASSERT_TRUE(RequestFrame(8, "C:\\n.jpg"));
    EXPECT_EQ(Deliver(8, 0.0, nullptr, 100), E_POINTER);
    EXPECT_EQ(CameraSlotAt(8).frameWanted.load(), 0);
    EXPECT_EQ(CameraSlotAt(8).frameBuffer, nullptr);
    EXPECT_EQ(window.Pump(), 0);
    FrameReadLock lock(8);
    EXPECT_FALSE(lock.holdsFrame());
}

TEST_F(CameraSlotsTest, ReleasedSlotServesNoOldRequestAndFreesItsBuffer) {
    FrameReadyWindow oldSession;
    ASSERT_EQ(AcquireFreeSlot(), 0);
    BindSlotToWindow(0, oldSession.get());
    std::vector<BYTE> frame = Frame(500, 5);
    ASSERT_TRUE(RequestFrame(0, "C:\\old.jpg"));
    ASSERT_EQ(Deliver(0, frame), S_OK); // announced but never read
    ASSERT_TRUE(RequestFrame(0, "C:\\old2.jpg"));
    ASSERT_NE(CameraSlotAt(0).frameBuffer, nullptr);

    ReleaseSlot(0);
    const CameraSlot& slot = CameraSlotAt(0);
    EXPECT_EQ(slot.frameWanted.load(), 0);
    EXPECT_EQ(slot.frameBuffer, nullptr);
    EXPECT_EQ(slot.frameBufferSize, 0);
    EXPECT_STREQ(slot.callback.targetPath, "");
    EXPECT_EQ(slot.sessionWindow.load(), nullptr);
    EXPECT_FALSE(slot.held);
    {
        FrameReadLock lock(0); // the old session's unread frame is gone
        EXPECT_FALSE(lock.holdsFrame());
    }

    // The next session on the slot: its first frames are not served into the old request.
    FrameReadyWindow newSession;
    ASSERT_EQ(AcquireFreeSlot(), 0);
    BindSlotToWindow(0, newSession.get());
    EXPECT_EQ(Deliver(0, frame), S_OK);
    EXPECT_EQ(newSession.Pump(), 0);
    EXPECT_EQ(slot.frameBuffer, nullptr);
    // Its own request gets a fresh buffer.
    ASSERT_TRUE(RequestFrame(0, "C:\\new.jpg"));
    EXPECT_EQ(Deliver(0, frame), S_OK);
    EXPECT_EQ(newSession.Pump(), 1);
    EXPECT_EQ(slot.frameBufferSize, 500);
}

TEST_F(CameraSlotsTest, FrameBeingReadIsNotOverwrittenAndTheRequestWaits) {
    FrameReadyWindow window;
    BindSlotToWindow(10, window.get());
    std::vector<BYTE> first = Frame(256, 0x11), second = Frame(256, 0x22), third = Frame(256, 0x33);
    ASSERT_TRUE(RequestFrame(10, "C:\\r1.jpg"));
    ASSERT_EQ(Deliver(10, first), S_OK);
    {
        FrameReadLock lock(10);
        ASSERT_TRUE(lock.holdsFrame());
        ASSERT_TRUE(RequestFrame(10, "C:\\r2.jpg"));
        EXPECT_EQ(Deliver(10, second), S_OK); // skipped: the reader holds the buffer
        EXPECT_EQ(CameraSlotAt(10).frameWanted.load(), 1);
        EXPECT_EQ(lock.pixels()[0], 0x11);
        EXPECT_EQ(lock.pixels()[255], 0x11);
    }
    EXPECT_EQ(Deliver(10, third), S_OK); // the pending request is served by the next frame
    EXPECT_EQ(CameraSlotAt(10).frameWanted.load(), 0);
    FrameReadLock lock(10);
    ASSERT_TRUE(lock.holdsFrame());
    EXPECT_EQ(lock.pixels()[0], 0x33);
    window.Pump();
}

// A streaming thread at full speed and a UI thread requesting and reading: every frame read is
// whole (all its bytes from one delivery) and every announcement finds at most one frame.
TEST_F(CameraSlotsTest, HandOffUnderLoadNeverTearsAFrame) {
    FrameReadyWindow window;
    BindSlotToWindow(11, window.get());
    constexpr size_t frameLength = 640 * 480 * 3;
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        std::vector<BYTE> frame(frameLength);
        for (unsigned counter = 1; !stop.load(); ++counter) {
            std::memset(frame.data(), static_cast<BYTE>(counter), frameLength);
            CameraSlotAt(11).callback.BufferCB(counter, frame.data(), frameLength);
        }
    });
    int framesRead = 0, torn = 0;
    unsigned readTime = 0;
    window.onFrameReady = [&] {
        FrameReadLock lock(11);
        if (!lock.holdsFrame())
            return;
        // The next request goes out while this frame is still being read, and the read outlasts the
        // streaming thread's pause now and then.
        RequestFrame(11, "C:\\again.jpg");
        ++framesRead;
        const BYTE* pixels = lock.pixels();
        const BYTE first = pixels[0];
        readTime = (readTime + 37) % 160;
        ::Sleep(readTime);
        if (static_cast<BYTE>(lock.sampleTime()) != first)
            ++torn;
        for (size_t i = 0; i < frameLength; i += 997)
            if (pixels[i] != first)
                ++torn;
        if (pixels[frameLength - 1] != first)
            ++torn;
    };
    ASSERT_TRUE(RequestFrame(11, "C:\\load.jpg"));
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 3000) {
        window.Pump();
        ::Sleep(1);
    }
    stop = true;
    streaming.join();
    window.Pump();
    EXPECT_EQ(torn, 0);
    EXPECT_GE(framesRead, 10); // about one frame per 100 ms pause
}
