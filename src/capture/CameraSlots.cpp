#include "capture/CameraSlots.h"

#include <cstdlib>
#include <cstring>

namespace lumetra {

namespace {

struct CameraSlotTable {
    CameraSlotTable() {
        for (int index = 0; index < MaxCameraSlots; ++index)
            slots[index].callback.cameraIndex = index;
    }
    CameraSlot slots[MaxCameraSlots];
};

CameraSlotTable& Table() {
    static CameraSlotTable table;
    return table;
}

// Waits out a copy in progress and takes the buffer for the UI thread. Returns the state found.
FrameState TakeBufferForUi(CameraSlot& slot) {
    FrameState state = slot.frameState.load(std::memory_order_acquire);
    for (;;) {
        if (state == FrameState::Filling) {
            ::SwitchToThread();
            state = slot.frameState.load(std::memory_order_acquire);
            continue;
        }
        if (slot.frameState.compare_exchange_weak(state, FrameState::Reading, std::memory_order_acquire,
                                                  std::memory_order_acquire))
            return state;
    }
}

void FreeFrameBuffer(CameraSlot& slot) {
    std::free(slot.frameBuffer);
    slot.frameBuffer = nullptr;
    slot.frameBufferSize = 0;
    slot.frameLength = 0;
}

} // namespace

bool IsValidCameraIndex(int cameraIndex) {
    return cameraIndex >= 0 && cameraIndex < MaxCameraSlots;
}

CameraSlot& CameraSlotAt(int cameraIndex) {
    return Table().slots[cameraIndex];
}

void ResetCameraSlots() {
    for (int index = 0; index < MaxCameraSlots; ++index) {
        CameraSlot& slot = CameraSlotAt(index);
        slot.sessionWindow.store(nullptr, std::memory_order_relaxed);
        slot.frameWanted.store(0, std::memory_order_relaxed);
        FreeFrameBuffer(slot);
        slot.sampleTime = 0.0;
        slot.frameState.store(FrameState::Empty, std::memory_order_release);
        slot.held = false;
        slot.callback.cameraIndex = index;
        slot.callback.targetPath[0] = '\0';
    }
}

int AcquireFreeSlot() {
    for (int index = 0; index < MaxCameraSlots; ++index) {
        CameraSlot& slot = CameraSlotAt(index);
        if (!slot.held) {
            slot.held = true;
            return index;
        }
    }
    return -1;
}

void ReleaseSlot(int cameraIndex) {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    CameraSlot& slot = CameraSlotAt(cameraIndex);
    slot.frameWanted.store(0, std::memory_order_release);
    slot.sessionWindow.store(nullptr, std::memory_order_release);
    std::memset(slot.callback.targetPath, 0, sizeof slot.callback.targetPath);
    TakeBufferForUi(slot);
    FreeFrameBuffer(slot);
    slot.sampleTime = 0.0;
    slot.frameState.store(FrameState::Empty, std::memory_order_release);
    slot.held = false;
}

void BindSlotToWindow(int cameraIndex, HWND sessionWindow) {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    CameraSlotAt(cameraIndex).sessionWindow.store(sessionWindow, std::memory_order_release);
}

bool RequestFrame(int cameraIndex, const char* path) {
    if (!IsValidCameraIndex(cameraIndex) || path == nullptr)
        return false;
    const size_t length = ::strnlen(path, TargetPathCapacity);
    if (length >= TargetPathCapacity)
        return false;
    CameraSlot& slot = CameraSlotAt(cameraIndex);
    std::memcpy(slot.callback.targetPath, path, length + 1);
    slot.frameWanted.store(FrameToSave, std::memory_order_release);
    return true;
}

bool RequestFrameToView(int cameraIndex) {
    if (!RequestFrame(cameraIndex, ""))
        return false;
    CameraSlotAt(cameraIndex).frameWanted.store(FrameToView, std::memory_order_release);
    return true;
}

FrameReadLock::FrameReadLock(int cameraIndex) {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    CameraSlot& slot = CameraSlotAt(cameraIndex);
    FrameState expected = FrameState::Ready;
    while (!slot.frameState.compare_exchange_weak(expected, FrameState::Reading, std::memory_order_acquire,
                                                  std::memory_order_acquire)) {
        if (expected != FrameState::Filling && expected != FrameState::Ready)
            return; // no unread frame
        if (expected == FrameState::Filling)
            ::SwitchToThread();
        expected = FrameState::Ready;
    }
    slot_ = &slot;
}

FrameReadLock::~FrameReadLock() {
    if (slot_)
        slot_->frameState.store(FrameState::Empty, std::memory_order_release);
}

STDMETHODIMP FrameGrabberCallback::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_ISampleGrabberCB) || IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FrameGrabberCallback::SampleCB(double, IMediaSample*) {
    return S_OK;
}

// Streaming thread.
STDMETHODIMP FrameGrabberCallback::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
    if (!IsValidCameraIndex(cameraIndex))
        return S_OK;
    CameraSlot& slot = CameraSlotAt(cameraIndex);
    slot.lastFrameTick.store(::GetTickCount64(), std::memory_order_relaxed);
    if (slot.frameWanted.load(std::memory_order_acquire) == 0)
        return S_OK;

    // While the UI thread reads the last frame, this frame is skipped and the request stays armed.
    FrameState previous = slot.frameState.load(std::memory_order_acquire);
    do {
        if (previous == FrameState::Filling || previous == FrameState::Reading)
            return S_OK;
    } while (!slot.frameState.compare_exchange_weak(previous, FrameState::Filling, std::memory_order_acquire,
                                                    std::memory_order_acquire));

    // The request counts as served from here on, whatever follows. A slot released meanwhile has
    // lowered the flag already.
    const int wanted = slot.frameWanted.exchange(0, std::memory_order_acq_rel);
    if (wanted == 0) {
        slot.frameState.store(previous, std::memory_order_release);
        return S_OK;
    }
    if (buffer == nullptr || length < 0) {
        slot.frameState.store(previous, std::memory_order_release);
        return E_POINTER;
    }

    if (slot.frameBufferSize < length)
        FreeFrameBuffer(slot);
    slot.sampleTime = sampleTime;
    if (slot.frameBuffer == nullptr) {
        slot.frameBuffer = static_cast<BYTE*>(std::malloc(length > 0 ? length : 1));
        slot.frameBufferSize = slot.frameBuffer ? length : 0;
    }
    if (slot.frameBuffer == nullptr) {
        slot.frameState.store(FrameState::Empty, std::memory_order_release);
        return E_OUTOFMEMORY;
    }
    std::memcpy(slot.frameBuffer, buffer, length);
    slot.frameLength = static_cast<uint32_t>(length);
    slot.frameBufferWidth = frameWidth;
    slot.frameBufferHeight = frameHeight;
    slot.frameState.store(FrameState::Ready, std::memory_order_release);

    if (HWND sessionWindow = slot.sessionWindow.load(std::memory_order_acquire))
        ::PostMessageA(sessionWindow, WM_FRAME_READY, 0, 0);
    // A frame to save keeps the stream waiting a moment; frames only looked at (motion, up to five a
    // second) must not stall the live picture.
    if (wanted == FrameToSave)
        ::SleepEx(100, FALSE);
    return S_OK;
}

} // namespace lumetra
