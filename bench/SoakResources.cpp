#include <winsock2.h>

#include "SoakResources.h"

#include "PlatformShare.h"
#include "SoakSupport.h"
#include "framework/Handles.h"

#include <cstdio>

namespace lumetra::soak {

namespace {
constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr double kMemoryGoalMb = 1.0;
constexpr double kHandleGoal = 10.0;
constexpr double kGdiGoal = 0.5; // none, as a fitted slope rounds

struct Point {
    double hours;
    double megabytes, handles, gdiObjects;
};

Point PointOf(const Sample& sample) {
    return {sample.at / 3600, sample.counts.privateBytes / kMegabyte,
            static_cast<double>(sample.counts.handles), static_cast<double>(sample.counts.gdiObjects)};
}

double Slope(const std::vector<Point>& points, double Point::*value) {
    double meanHours = 0, meanValue = 0;
    for (const Point& point : points) {
        meanHours += point.hours / points.size();
        meanValue += point.*value / points.size();
    }
    double covariance = 0, variance = 0;
    for (const Point& point : points) {
        covariance += (point.hours - meanHours) * (point.*value - meanValue);
        variance += (point.hours - meanHours) * (point.hours - meanHours);
    }
    return variance > 0 ? covariance / variance : 0;
}

std::string Figure(double value, size_t samples, const char* unit = "") {
    if (samples < 2)
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f%s", value, unit);
    return text;
}

void PrintRow(const char* what, const Growth& growth) {
    std::printf("%-42s %7zu %14s %9s %13s\n", what, growth.samples,
                Figure(growth.megabytes, growth.samples, "M").c_str(),
                Figure(growth.handles, growth.samples).c_str(),
                Figure(growth.gdiObjects, growth.samples).c_str());
}
} // namespace

test::ResourceCounts CountResources() {
    test::ResourceCounts counts;
    PumpWhile([&counts] { counts = test::CurrentResources(); });
    return counts;
}

Growth GrowthPerHour(const std::vector<Sample>& samples, double warmup, bool withoutLostMinutes) {
    std::vector<Point> points;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].at < warmup)
            continue;
        const Point point = PointOf(samples[i]);
        if (points.empty()) {
            points.push_back(point);
            continue;
        }
        if (withoutLostMinutes && samples[i].cameraLost)
            continue;
        // Each step from the sample before, put after the last point kept.
        const Point before = PointOf(samples[i - 1]);
        const Point& last = points.back();
        points.push_back({last.hours + point.hours - before.hours,
                          last.megabytes + point.megabytes - before.megabytes,
                          last.handles + point.handles - before.handles,
                          last.gdiObjects + point.gdiObjects - before.gdiObjects});
    }
    Growth growth;
    growth.samples = points.size();
    if (points.size() < 2)
        return growth;
    growth.megabytes = Slope(points, &Point::megabytes);
    growth.handles = Slope(points, &Point::handles);
    growth.gdiObjects = Slope(points, &Point::gdiObjects);
    return growth;
}

std::vector<Sample> ReplayWineCalls(const std::vector<Sample>& run) {
    ComApartment com(COINIT_APARTMENTTHREADED);
    std::vector<Sample> bare = run;
    for (size_t i = 0; i < bare.size(); ++i) {
        for (std::uint64_t read = 0; read < run[i].deviceListReads; ++read)
            test::DirectShowDeviceListRead();
        // A camera that comes back is opened as any camera is: it finds its device in the list
        // once more, then has its graph made.
        for (int back = 0; back < run[i].camerasBack; ++back)
            test::DirectShowPlatformCycle();
        for (int server = 0; server < run[i].serversStarted; ++server)
            test::HostProgramRun();
        bare[i].counts = CountResources();
    }
    return bare;
}

void PrintSamples(const std::vector<Sample>& run, const std::vector<Sample>& bare, double warmup) {
    std::printf(
        "\nResources at the start, every minute and at the end, and the same for a bare loop of the Wine\n"
        "calls the lost cameras made (the device-list reads, and the device found and graph made of each\n"
        "camera back) and of the test FTP servers started (Wine keeps a handle to the program of each),\n"
        "replayed minute by minute after the run with no camera open. Lumetra's private memory is the\n"
        "lowest of reads every 5 s through the minute before. lost: a camera was lost in the minute\n"
        "before; - marks the warm-up.\n");
    std::printf("%9s %29s %7s %5s %29s\n", "", "--------- Lumetra ---------", "", "",
                "-------- bare loop --------");
    std::printf("%9s %9s %9s %9s %7s %5s %9s %9s %9s\n", "minute", "private", "handles", "GDI", "reads",
                "lost", "private", "handles", "GDI");
    for (size_t i = 0; i < run.size(); ++i) {
        const Sample& sample = run[i];
        const bool hasBare = i < bare.size();
        std::printf("%s%8.1f %8.1fM %9lu %9lu %7llu %5s", sample.at < warmup ? "-" : " ", sample.at / 60,
                    sample.counts.privateBytes / kMegabyte, sample.counts.handles, sample.counts.gdiObjects,
                    static_cast<unsigned long long>(sample.deviceListReads), sample.cameraLost ? "yes" : "");
        if (hasBare)
            std::printf(" %8.1fM %9lu %9lu", bare[i].counts.privateBytes / kMegabyte, bare[i].counts.handles,
                        bare[i].counts.gdiObjects);
        std::printf("\n");
    }
}

void PrintGrowth(const std::vector<Sample>& run, const std::vector<Sample>& bare, double warmup) {
    const Growth all = GrowthPerHour(run, warmup, false);
    const Growth steady = GrowthPerHour(run, warmup, true);
    const Growth wine = GrowthPerHour(bare, warmup, false);
    Growth own = all;
    own.megabytes -= wine.megabytes;
    own.handles -= wine.handles;
    own.gdiObjects -= wine.gdiObjects;
    char warmupText[32];
    std::snprintf(warmupText, sizeof warmupText, warmup < 120 ? "%.0f s" : "%.1f minutes",
                  warmup < 120 ? warmup : warmup / 60);
    std::printf("\nGrowth an hour after the warm-up (the first %s; --warmup MINUTES), least squares\n",
                warmupText);
    std::printf("%-42s %7s %14s %9s %13s\n", "", "samples", "private memory", "handles", "GDI objects");
    PrintRow("Lumetra, every sample", all);
    PrintRow("Lumetra, the minutes no camera was lost in", steady);
    PrintRow("bare loop: Wine's share", wine);
    PrintRow("Lumetra less Wine's share", own);
    char memoryGoal[16], handleGoal[16];
    std::snprintf(memoryGoal, sizeof memoryGoal, "< %.0fM", kMemoryGoalMb);
    std::snprintf(handleGoal, sizeof handleGoal, "< %.0f", kHandleGoal);
    std::printf("%-42s %7s %14s %9s %13s\n", "goal of a long run", "", memoryGoal, handleGoal, "0");
    if (own.samples < 2) {
        std::printf("too few samples after the warm-up for a figure\n");
        return;
    }
    const auto verdict = [](bool met) { return met ? "met" : "missed"; };
    std::printf("%-42s %7s %14s %9s %13s\n", "", "", verdict(own.megabytes < kMemoryGoalMb),
                verdict(own.handles < kHandleGoal), verdict(own.gdiObjects < kGdiGoal));
    std::printf("(the goals are for runs of an hour or more: shown, not checked)\n");
}

} // namespace lumetra::soak
