#pragma once
// The camera slot table: where a capture graph's streaming thread hands a requested frame to the
// user-interface thread.
//
// Hand-off, per slot:
//   UI thread:        RequestFrame writes targetPath, then raises frameWanted (release).
//   streaming thread: BufferCB sees frameWanted (acquire), takes the frame buffer (Empty/Ready ->
//                     Filling), lowers frameWanted, copies, publishes the frame (-> Ready, release)
//                     and posts WM_FRAME_READY to sessionWindow.
//   UI thread:        on WM_FRAME_READY a FrameReadLock takes the frame (Ready -> Reading, acquire);
//                     while it is held the streaming thread skips frames and leaves the request
//                     pending, so the buffer never changes under the reader.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "imaging/OverlaySettings.h"

namespace lumetra {

constexpr int MaxCameraSlots = 20;
constexpr UINT WM_FRAME_READY = WM_APP + 2;
constexpr size_t TargetPathCapacity = 260; // bytes, NUL included

// The Sample Grabber callback of one slot. Static lifetime: COM reference counting is not used.
class FrameGrabberCallback : public ISampleGrabberCB {
  public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // ISampleGrabberCB
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

    // Encodes a frame of width x height with this camera's overlay and writes it to targetPath (GUI
    // thread).
    int ComposeAndSaveFrame(double sampleTime, BYTE* pixels, uint32_t byteCount, int width, int height);

    int frameWidth = 0;  // of the connected video format
    int frameHeight = 0; // as the format's bitmap header gives it (negative: top-down)
    char targetPath[TargetPathCapacity]{};
    int cameraIndex = 0; // own position in the table
    OverlaySettings overlay;
};

// Who owns the frame buffer of a slot at the moment.
enum class FrameState : int {
    Empty,   // no unread frame; the streaming thread may fill the buffer
    Filling, // the streaming thread is copying a frame
    Ready,   // a frame waits for the UI thread (WM_FRAME_READY posted)
    Reading, // the UI thread reads the frame
};

// What a waiting request wants of the next frame.
constexpr int FrameToSave = 1;
constexpr int FrameToView = 2;

struct CameraSlot {
    FrameGrabberCallback callback;
    std::atomic<int> frameWanted{0}; // FrameToSave or FrameToView while a request waits for a frame
    std::atomic<HWND> sessionWindow{nullptr};
    std::atomic<FrameState> frameState{FrameState::Empty};
    // Owned by whoever holds frameState (Filling: streaming thread, Reading: UI thread).
    double sampleTime = 0.0;
    int32_t frameBufferSize = 0; // bytes allocated
    uint32_t frameLength = 0;    // bytes of the last copied frame
    // Its size, as the graph had it then: a graph rebuilt at another size meanwhile does not change
    // how a frame already copied is read.
    int frameBufferWidth = 0;
    int frameBufferHeight = 0;
    BYTE* frameBuffer = nullptr;
    // GetTickCount64 of the last frame the graph delivered, requested or not (streaming thread);
    // the session compares it with the clock to notice a camera that stopped.
    std::atomic<ULONGLONG> lastFrameTick{0};
    // UI thread only: the slot belongs to an open session.
    bool held = false;
};

bool IsValidCameraIndex(int cameraIndex);
// The slot of cameraIndex; the index must be valid.
CameraSlot& CameraSlotAt(int cameraIndex);

// Clears every slot (the camera list's start). No graph may be running.
void ResetCameraSlots();

// Lowest index not held by an open session, now held; -1 when all MaxCameraSlots are held.
int AcquireFreeSlot();
// Gives the slot up when its session closes (after the graph is torn down): lowers frameWanted,
// clears targetPath and sessionWindow, drops an unread frame and frees the frame buffer.
void ReleaseSlot(int cameraIndex);

// The session's window and index, written before its graph runs.
void BindSlotToWindow(int cameraIndex, HWND sessionWindow);

// Arms the slot: the next frame is copied and announced to the session window, then saved under
// path. Refused (false, nothing changed) for an invalid index or a path of TargetPathCapacity
// bytes or more. A second request before the frame only replaces the path.
bool RequestFrame(int cameraIndex, const char* path);
// Arms the slot without a path: the next frame is only looked at (HandleFrameReady's viewer), not
// saved. A later RequestFrame before the frame comes gives it a path after all.
bool RequestFrameToView(int cameraIndex);

// Holds a slot's announced frame for reading on the UI thread. Holds nothing when no unread frame
// is there (the message was for a frame already read, or the slot was released).
class FrameReadLock {
  public:
    explicit FrameReadLock(int cameraIndex);
    ~FrameReadLock();
    FrameReadLock(const FrameReadLock&) = delete;
    FrameReadLock& operator=(const FrameReadLock&) = delete;

    bool holdsFrame() const { return slot_ != nullptr; }
    double sampleTime() const { return slot_->sampleTime; }
    BYTE* pixels() const { return slot_->frameBuffer; }
    uint32_t byteCount() const { return slot_->frameLength; }
    int width() const { return slot_->frameBufferWidth; }
    int height() const { return slot_->frameBufferHeight; }

  private:
    CameraSlot* slot_ = nullptr;
};

// What the session's WM_FRAME_READY handling did with the slot's frame.
enum class FrameHandled {
    NoFrame,    // none was waiting
    OnlyViewed, // it was asked for without a path: only looked at
    Composed,   // composed and saved, or tried: saveStatus tells (0 written)
};
struct FrameOutcome {
    FrameHandled handled = FrameHandled::NoFrame;
    int saveStatus = 0; // the composer's result when Composed
};

// Sees a frame's pixels (RGB24 as delivered, of the size the graph had when it was copied) while it
// is held.
using FrameViewer = std::function<void(const BYTE* pixels, uint32_t byteCount, int width, int height)>;
// Composes and saves the slot's frame when one is there, showing it to `viewer` (when set) first;
// a frame asked for without a path is only shown.
FrameOutcome HandleFrameReady(int cameraIndex, const FrameViewer& viewer = FrameViewer());

} // namespace lumetra
