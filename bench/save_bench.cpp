// Time from a schedule tick that saves to the JPEG on disk, for one test-pattern camera: the
// camera list runs on this thread, the schedule's clock steps two seconds per tick, and each
// save is timed until its file is written. Prints the median and the worst over the run.
//
// Usage: save_bench [saves] (default 100). Needs LUMETRA_BUILD_DIR to find the test camera.
#include "SessionHarness.h"
#include "TestCameras.h"
#include "WindowDriver.h"
#include "session/CameraSchedule.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace lumetra;
using namespace lumetra::test;
namespace ids = lumetra::cam_action_ids;

namespace {
double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}
} // namespace

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    StartProgramLibraries();
    TestCameras cameras;
    if (!cameras.loaded()) {
        std::fprintf(stderr, "test camera DLL not found (LUMETRA_BUILD_DIR)\n");
        return 1;
    }
    const std::string cameraName = "Save Bench Cam";
    ScopedTestCamera camera(cameras, cameraName);
    DeleteCameraKey(cameraName);
    TempFolder folder("bench");

    std::int32_t now = 1'600'000'000;
    SetScheduleClock([&] { return now; });
    std::vector<double> times;
    int missed = 0;
    {
        MainWindow main;
        LiveView* session = main.Open(cameraName);
        if (!session || !session->Graph().running()) {
            std::fprintf(stderr, "the test camera did not start\n");
            return 1;
        }
        CamActionDialog* action = session->ActionDialog();
        SetEdit(action, ids::Directory, folder.path());
        SetEdit(action, ids::SaveSeconds, "1");
        SetCheck(action, ids::AppendTime, false);
        SetCheck(action, ids::SaveAuto, true);
        PumpMessages(500);

        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        for (int i = 0; i < saves; ++i) {
            const std::string name = "b" + std::to_string(i);
            SetEdit(action, ids::FileName, name);
            const std::uint64_t before = session->ImagesWritten();
            now += 2;
            LARGE_INTEGER start, end;
            ::QueryPerformanceCounter(&start);
            main.Tick();
            // The file is written when the session handles the frame: on this thread.
            const bool written = PumpUntil([&] { return session->ImagesWritten() > before; }, 3000);
            ::QueryPerformanceCounter(&end);
            if (written && FileExists(folder.File(name + ".jpg")))
                times.push_back(Milliseconds(start, end, frequency));
            else
                ++missed;
        }
    }
    SetScheduleClock(nullptr);
    DeleteCameraKey(cameraName);
    if (times.empty()) {
        std::printf("no image was written\n");
        return 1;
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                            : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    std::printf("tick to file on disk, 640x480 test camera, %zu saves (%d missed):\n", times.size(), missed);
    std::printf("  median %.1f ms, best %.1f ms, worst %.1f ms\n", median, sorted.front(), sorted.back());
    std::printf("  (the tick itself waits 100 ms for the capture thread before it returns)\n");
    return 0;
}
