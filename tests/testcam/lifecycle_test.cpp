// Starting, pausing, stopping and releasing graphs with the test-pattern camera: the streaming
// thread ends with the stop, nothing hangs and the DLL is free to unload afterwards; an unplugged
// camera goes quiet.

#include "CameraTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;

namespace {

// The (param1, param2) of each EC_DEVICE_LOST the graph queues within the next forMs milliseconds.
std::vector<std::pair<LONG_PTR, LONG_PTR>> DeviceLostEvents(IMediaEvent* events, DWORD forMs) {
    std::vector<std::pair<LONG_PTR, LONG_PTR>> lost;
    const ULONGLONG deadline = GetTickCount64() + forMs;
    for (ULONGLONG now; (now = GetTickCount64()) <= deadline;) {
        long code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        // Wine answers E_ABORT at once, without waiting, the first time after the queue ran empty.
        if (FAILED(events->GetEvent(&code, &param1, &param2, static_cast<long>(deadline - now))))
            continue;
        if (code == EC_DEVICE_LOST)
            lost.emplace_back(param1, param2);
        events->FreeEventParams(code, param1, param2);
    }
    return lost;
}

class TestCameraLifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(cameras.loaded());
        camera = std::make_unique<ScopedTestCamera>(cameras, "Lifecycle Cam");
        ASSERT_TRUE(camera->registered());
    }
    void TearDown() override {
        camera.reset();
        CoUninitialize();
    }

    TestCameras cameras;
    std::unique_ptr<ScopedTestCamera> camera;
};

TEST_F(TestCameraLifecycle, StopJoinsTheStreamingThreadAndReleaseFreesEverything) {
    // A first run lets the system create whatever worker threads it keeps.
    {
        FrameCollector warmUp;
        GrabberGraph graph;
        ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", warmUp, 0)));
        ASSERT_EQ(S_OK, graph.Run());
        ASSERT_TRUE(warmUp.WaitForFrames(2, 3000));
        graph.Stop();
    }
    const size_t threadsBefore = ProcessThreadIds().size();

    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector, 0)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(3, 3000));
    const DWORD streamingThread = collector.lastThreadId();
    ASSERT_NE(GetCurrentThreadId(), streamingThread);
    EXPECT_TRUE(ThreadExists(streamingThread));
    EXPECT_GT(ProcessThreadIds().size(), threadsBefore);

    const ULONGLONG stopStarted = GetTickCount64();
    ASSERT_TRUE(SUCCEEDED(graph.Stop()));
    EXPECT_LT(GetTickCount64() - stopStarted, 2000u);
    EXPECT_FALSE(ThreadExists(streamingThread));
    const long framesAtStop = collector.frames();
    Sleep(300); // time for a frame, which must not come
    EXPECT_EQ(framesAtStop, collector.frames());

    graph.Release();
    EXPECT_LE(ProcessThreadIds().size(), threadsBefore);
    EXPECT_EQ(S_OK, cameras.CanUnloadNow());
}

TEST_F(TestCameraLifecycle, ReleasingARunningGraphEndsTheThread) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector, 0)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(3, 3000));
    const DWORD streamingThread = collector.lastThreadId();
    graph.Release(); // no Stop first
    EXPECT_FALSE(ThreadExists(streamingThread));
    EXPECT_EQ(S_OK, cameras.CanUnloadNow());
}

TEST_F(TestCameraLifecycle, StopWhileEveryBufferIsHeldDownstreamDoesNotHang) {
    FrameCollector collector;
    collector.HoldSamples(true);
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector, 0)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(1, 3000));
    // Once the allocator runs dry the streaming thread waits in GetBuffer.
    long previous = -1;
    while (collector.frames() != previous) {
        previous = collector.frames();
        Sleep(400);
    }
    const DWORD streamingThread = collector.lastThreadId();
    EXPECT_TRUE(ThreadExists(streamingThread));

    const ULONGLONG stopStarted = GetTickCount64();
    ASSERT_TRUE(SUCCEEDED(graph.Stop()));
    EXPECT_LT(GetTickCount64() - stopStarted, 2000u);
    EXPECT_FALSE(ThreadExists(streamingThread));
    collector.ReleaseHeldSamples();
    graph.Release();
    EXPECT_EQ(S_OK, cameras.CanUnloadNow());
}

TEST_F(TestCameraLifecycle, PauseHoldsFramesBackAndRunResumesThem) {
    FrameCollector collector;
    GrabberGraph graph;
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_TRUE(collector.WaitForFrames(2, 3000));

    ASSERT_TRUE(SUCCEEDED(graph.control->Pause()));
    OAFilterState state = State_Stopped;
    graph.control->GetState(2000, &state);
    EXPECT_EQ(State_Paused, state);
    // A live source: paused reports that it cannot cue.
    FILTER_STATE cameraState = State_Stopped;
    EXPECT_EQ(VFW_S_CANT_CUE, graph.camera->GetState(0, &cameraState));
    EXPECT_EQ(State_Paused, cameraState);
    Sleep(150); // a frame already on its way may still land
    const long pausedAt = collector.frames();
    Sleep(500); // time for frames, which must not come
    EXPECT_EQ(pausedAt, collector.frames());

    ASSERT_EQ(S_OK, graph.Run());
    EXPECT_TRUE(collector.WaitForFrames(pausedAt + 4, 3000));
    EXPECT_TRUE(SUCCEEDED(graph.Stop()));
}

TEST_F(TestCameraLifecycle, RepeatedRunsLeaveNoThreadsBehind) {
    size_t threadsAfterFirst = 0;
    for (int round = 0; round < 5; ++round) {
        FrameCollector collector;
        GrabberGraph graph;
        ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector, round % 2)));
        ASSERT_EQ(S_OK, graph.Run());
        ASSERT_TRUE(collector.WaitForFrames(2, 3000)) << round;
        ASSERT_TRUE(SUCCEEDED(graph.Stop()));
        graph.Release();
        if (round == 0)
            threadsAfterFirst = ProcessThreadIds().size();
    }
    EXPECT_LE(ProcessThreadIds().size(), threadsAfterFirst);
    EXPECT_EQ(S_OK, cameras.CanUnloadNow());
}

TEST_F(TestCameraLifecycle, FilterStaysStoppedAndDisconnectableWhenUnconnected) {
    ComPtr<IBaseFilter> filter = BindCamera(L"Lifecycle Cam");
    ASSERT_TRUE(filter);
    // Running a filter with nothing connected is harmless and starts no thread.
    const size_t threadsBefore = ProcessThreadIds().size();
    EXPECT_TRUE(SUCCEEDED(filter->Run(0)));
    EXPECT_EQ(threadsBefore, ProcessThreadIds().size());
    EXPECT_TRUE(SUCCEEDED(filter->Stop()));
    ComPtr<IPin> pin = FirstPin(filter.Get(), PINDIR_OUTPUT);
    EXPECT_EQ(S_FALSE, pin->Disconnect());
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectedTo(&peer));
}

TEST_F(TestCameraLifecycle, UnplugSilencesTheCameraAndReportsDeviceLostOnceUntilReplug) {
    ScopedTestCamera other(cameras, "Lifecycle Other Cam");
    ASSERT_TRUE(other.registered());
    FrameCollector collector, otherCollector;
    GrabberGraph graph, otherGraph;
    ComPtr<IMediaEvent> events, otherEvents; // MinGW gives IMediaEvent no __uuidof: asked by IID
    ASSERT_TRUE(SUCCEEDED(graph.Build(L"Lifecycle Cam", collector)));
    ASSERT_TRUE(SUCCEEDED(otherGraph.Build(L"Lifecycle Other Cam", otherCollector)));
    ASSERT_TRUE(SUCCEEDED(graph.graph->QueryInterface(IID_IMediaEvent, &events)));
    ASSERT_TRUE(SUCCEEDED(otherGraph.graph->QueryInterface(IID_IMediaEvent, &otherEvents)));
    ASSERT_EQ(S_OK, graph.Run());
    ASSERT_EQ(S_OK, otherGraph.Run());
    ASSERT_TRUE(collector.WaitForFrames(2, 3000));

    ASSERT_TRUE(cameras.Unplug("Lifecycle Cam")) << std::hex << cameras.lastResult();
    // Plugged in again for the tests after this one, whatever fails below.
    std::unique_ptr<TestCameras, void (*)(TestCameras*)> replugOnExit(
        &cameras, [](TestCameras* owner) { owner->Replug("Lifecycle Cam"); });
    const auto lost = DeviceLostEvents(events.Get(), 1500);
    ASSERT_EQ(1u, lost.size());
    ComPtr<IUnknown> cameraIdentity;
    graph.camera.As(&cameraIdentity);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(cameraIdentity.Get()), lost[0].first);
    EXPECT_EQ(0, lost[0].second); // removed
    const long framesAtLoss = collector.frames();
    Sleep(500); // time for frames, which must not come
    EXPECT_EQ(framesAtLoss, collector.frames());
    const auto devices = ListVideoInputDevices();
    EXPECT_FALSE(IsListed(devices, L"Lifecycle Cam"));
    EXPECT_TRUE(IsListed(devices, L"Lifecycle Other Cam"));
    EXPECT_FALSE(BindCamera(L"Lifecycle Cam"));

    // Stopped and run again while unplugged: still nothing, and no second report.
    const ULONGLONG stopStarted = GetTickCount64();
    ASSERT_TRUE(SUCCEEDED(graph.Stop()));
    EXPECT_LT(GetTickCount64() - stopStarted, 2000u);
    ASSERT_EQ(S_OK, graph.Run());
    EXPECT_TRUE(DeviceLostEvents(events.Get(), 700).empty());
    EXPECT_EQ(framesAtLoss, collector.frames());

    ASSERT_TRUE(cameras.Replug("Lifecycle Cam")) << std::hex << cameras.lastResult();
    replugOnExit.release();
    EXPECT_TRUE(IsListed(ListVideoInputDevices(), L"Lifecycle Cam"));
    FrameCollector rebuiltCollector;
    GrabberGraph rebuilt;
    ASSERT_TRUE(SUCCEEDED(rebuilt.Build(L"Lifecycle Cam", rebuiltCollector)));
    ASSERT_EQ(S_OK, rebuilt.Run());
    EXPECT_TRUE(rebuiltCollector.WaitForFrames(3, 3000));

    // The other camera streamed throughout and heard of no loss.
    EXPECT_TRUE(otherCollector.WaitForFrames(otherCollector.frames() + 3, 3000));
    EXPECT_TRUE(DeviceLostEvents(otherEvents.Get(), 0).empty());
}

} // namespace
