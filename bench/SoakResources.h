#pragma once
// The soak run's resource figures: the process's private memory, handles and GDI objects sampled
// every minute, their growth an hour fitted after a warm-up, and the same sampling over a bare loop
// of the Wine calls the run's lost cameras made, which shows the share that is Wine's own.

#include "ProcessResources.h"

#include <cstdint>
#include <vector>

namespace lumetra::soak {

struct Sample {
    double at = 0; // seconds from the start of the run
    test::ResourceCounts counts;
    // Since the sample before: a camera was lost at some time, the device-list reads the lost
    // cameras made, how many came back (each had its graph made again), and how many test FTP
    // servers were started.
    bool cameraLost = false;
    std::uint64_t deviceListReads = 0;
    int camerasBack = 0;
    int serversStarted = 0;
};

// Counted on a thread of its own while this thread keeps the windows and the camera timer going
// (counting takes a second or more).
test::ResourceCounts CountResources();

// Growth an hour, fitted by least squares to the samples taken from `warmup` seconds on.
struct Growth {
    double megabytes = 0, handles = 0, gdiObjects = 0;
    size_t samples = 0; // fitted; under 2 there is no figure
};
// withoutLostMinutes: the minutes in which a camera was lost are taken out, with what grew in them,
// and the rest is joined up.
Growth GrowthPerHour(const std::vector<Sample>& samples, double warmup, bool withoutLostMinutes);

// The run's device-list reads and graphs made again, minute by minute, as bare DirectShow calls in
// this process with no camera open, and its test servers' starts as host programs run; sampled after
// each minute's share as the run was sampled; the samples keep the run's times and marks.
std::vector<Sample> ReplayWineCalls(const std::vector<Sample>& run);

// The samples, the run's beside the bare loop's.
void PrintSamples(const std::vector<Sample>& run, const std::vector<Sample>& bare, double warmup);
// The growth an hour after warm-up, Lumetra's and Wine's, against the goals of a long run (shown,
// not checked).
void PrintGrowth(const std::vector<Sample>& run, const std::vector<Sample>& bare, double warmup);

} // namespace lumetra::soak
