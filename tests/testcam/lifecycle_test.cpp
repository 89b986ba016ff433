// Starting, pausing, stopping and releasing graphs with the test-pattern camera: the streaming
// thread ends with the stop, nothing hangs and the DLL is free to unload afterwards.

#include "CameraTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace lumetra;
using namespace lumetra::test;

namespace {

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
    Sleep(300);
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
    Sleep(150);
    const long pausedAt = collector.frames();
    Sleep(500);
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

} // namespace
