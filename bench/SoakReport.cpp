#include "Soak.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace lumetra::soak {

using namespace lumetra::test;

namespace {
constexpr long kHandleSlack = 20; // threads of uploads and mails come and go
constexpr long kGdiSlack = 10;
constexpr double kMemoryGoalMb = 16; // shown, not checked
} // namespace

// A stretch of seconds from the start, with the seconds it has images of.
std::string Soak::Describe(const char* what, const Camera& camera, Stretch run) const {
    const auto at = [this](std::int32_t second) { return std::to_string(std::lround(second - start_)); };
    std::string text = "  " + std::string(what) + ": " + camera.name + ", seconds " + at(run.first) + " to " +
                       at(run.second) + ", images at";
    for (auto stamp = camera.written.lower_bound(run.first); stamp != camera.written.lower_bound(run.second);
         ++stamp)
        text += " " + at(*stamp);
    return text;
}

// One row per camera; true when every correctness goal of the cameras holds.
bool Soak::PrintCameras() {
    std::printf("\n%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "camera", "saves", "written", "on",
                "healthy", "missed", "uploads sent", "mails sent", "sent,", "lost");
    std::printf("%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "", "due", "", "disk", "due", "healthy",
                "/due (all)", "/due (all)", "never", "");
    std::printf("%-10s %5s %7s %7s %7s %7s %13s %13s %7s %5s\n", "goal", "", "", "=written", "", "0",
                "none stop", "none stop", "written", "");
    bool pass = true;
    std::vector<std::string> problems;
    for (const Camera& camera : cameras_) {
        std::vector<Span> ftpDown = camera.saveDown;
        ftpDown.insert(ftpDown.end(), camera.ftpDown.begin(), camera.ftpDown.end());
        size_t dueHealthy = 0, missed = 0, uploadsDue = 0, uploadsSent = 0, mailsDue = 0, mailsSent = 0;
        const auto deliveries = [&](Stretch run, const std::set<std::int32_t>& sent, const char* what,
                                    size_t& due, size_t& done) {
            due += CountIn(camera.written, run);
            done += CountIn(sent, run);
            if (CountIn(camera.written, run) >= 4 && CountIn(sent, run) == 0)
                problems.push_back(Describe(what, camera, run));
        };
        for (const Stretch& run : HealthyStretches(camera.savingFrom, camera.savingTo, camera.saveDown)) {
            const size_t due = static_cast<size_t>(run.second - run.first) / 2;
            const size_t written = CountIn(camera.written, run);
            dueHealthy += due;
            missed += written < due ? due - written : 0;
            if (written < due)
                problems.push_back(Describe("saves missed", camera, run));
        }
        std::vector<Span> mailDown = camera.saveDown;
        mailDown.insert(mailDown.end(), camera.mailDown.begin(), camera.mailDown.end());
        for (const Stretch& run : HealthyStretches(camera.savingFrom, camera.savingTo, mailDown))
            deliveries(run, camera.mailed, "nothing mailed", mailsDue, mailsSent);
        for (const Stretch& run : HealthyStretches(camera.savingFrom, camera.savingTo, ftpDown))
            deliveries(run, camera.uploaded, "nothing uploaded", uploadsDue, uploadsSent);
        char uploads[32], mails[32];
        std::snprintf(uploads, sizeof uploads, "%zu/%zu (%zu)", uploadsSent, uploadsDue,
                      camera.uploaded.size());
        std::snprintf(mails, sizeof mails, "%zu/%zu (%zu)", mailsSent, mailsDue, camera.mailed.size());
        const bool lostOk =
            &camera == &cameras_[1] ? camera.losses == unplugs_ && !camera.lostAtEnd : camera.losses == 0;
        std::printf("%-10s %5ld %7llu %7zu %7zu %7zu %13s %13s %7d %5d\n", camera.name.c_str(),
                    static_cast<long>((camera.savingTo - camera.savingFrom) / 2),
                    static_cast<unsigned long long>(camera.imagesWritten), camera.written.size(), dueHealthy,
                    missed, uploads, mails, camera.sentUnwritten, camera.losses);
        pass = pass && camera.written.size() == camera.imagesWritten && camera.sentUnwritten == 0 && lostOk;
    }
    std::printf(
        "healthy: the camera was not unplugged or lost and its folder was there (a second of grace at each\n"
        "edge). Uploads are due for the images saved while its server answered and no box was left open;\n"
        "one that ends in the second after its save makes the next one not due, so the share sent is shown,\n"
        "and the goal is that none stops: every such stretch with 4 images or more has one sent.\n");
    if (unplugs_ > 0)
        std::printf("lost: goal %d for %s (unplugged), 0 for the others.\n", unplugs_,
                    cameras_[1].name.c_str());
    else
        std::printf("lost: goal 0 for every camera.\n");
    if (options_.faults == Faults::MailFailing)
        std::printf(
            "Mails are due for the images saved while mail worked; (all) counts the refused ones too.\n");
    for (const std::string& line : problems)
        std::printf("%s\n", line.c_str());
    // Back within a few seconds from a short absence; within a minute once the looks have slowed down.
    const double backGoal = longUnplug_ ? 60 : 10;
    const char* goalText = longUnplug_ ? "within a minute" : "within 10 s";
    const bool allBack = static_cast<int>(backAfter_.size()) == unplugs_;
    std::string times;
    for (double seconds : backAfter_) {
        char time[16];
        std::snprintf(time, sizeof time, "%s%.1f", times.empty() ? "" : ", ", seconds);
        times += time;
    }
    char away[48] = "";
    if (longUnplug_)
        std::snprintf(away, sizeof away, ", having been away %.1f minutes", unplugFor_ / 60);
    if (unplugs_ > 0 && allBack)
        std::printf("%s back %s s after it was plugged back in%s (goal: %s)\n", cameras_[1].name.c_str(),
                    times.c_str(), away, goalText);
    else if (unplugs_ > 0)
        std::printf("%s never came back after it was plugged back in (goal: %s)\n", cameras_[1].name.c_str(),
                    goalText);
    std::printf("uploads and mails of no camera's image: %d (goal 0)\n", unknownSent_);
    const bool backInTime =
        allBack && std::all_of(backAfter_.begin(), backAfter_.end(),
                               [backGoal](double seconds) { return seconds <= backGoal; });
    return pass && problems.empty() && backInTime && unknownSent_ == 0;
}

bool Soak::PrintResources() {
    const long handles = static_cast<long>(after_.handles) - static_cast<long>(before_.handles);
    const long gdi = static_cast<long>(after_.gdiObjects) - static_cast<long>(before_.gdiObjects);
    const double megabytes = 1024.0 * 1024.0;
    std::printf("\n%-15s %9s %9s %9s   goal\n", "process", "start", "end", "growth");
    std::printf(
        "%-15s %9lu %9lu %+9ld   <= %ld (%ld of them Wine's: the lost camera's device-list reads, the "
        "test servers started)\n",
        "handles", before_.handles, after_.handles, handles, kHandleSlack + platformHandles_,
        platformHandles_);
    std::printf("%-15s %9lu %9lu %+9ld   <= %ld\n", "GDI objects", before_.gdiObjects, after_.gdiObjects, gdi,
                kGdiSlack);
    std::printf("%-15s %8.1fM %8.1fM %+8.1fM   <= %.0fM (shown, not checked)\n", "private memory",
                before_.privateBytes / megabytes, after_.privateBytes / megabytes,
                (static_cast<double>(after_.privateBytes) - before_.privateBytes) / megabytes, kMemoryGoalMb);
    return handles <= kHandleSlack + platformHandles_ && gdi <= kGdiSlack;
}

bool Soak::Report() {
    std::printf(
        "Soak: %zu test cameras for %.0f s on the real camera timer; Save, FTP and Email Auto every 1 s;"
        " %s uploads in active mode, the others in passive\n",
        cameras_.size(), length_, cameras_[0].name.c_str());
    if (options_.faults == Faults::Mixed) {
        std::printf("Faults, from the start:\n");
    } else if (options_.faults == Faults::None) {
        std::printf("Faults: none (--no-faults); from the start:\n");
    } else {
        const Cycle cycle = CycleOf(options_.faults);
        std::printf("Faults: only %s, %.0f s of every %.0f s; from the start:\n", options_.only.c_str(),
                    cycle.faultFor, cycle.period);
    }
    for (const std::string& line : timeline_)
        std::printf("%s\n", line.c_str());
    bool pass = PrintCameras();
    std::printf(
        "\nevent log     lost  back  could not save  works again  FTP failed  mail failed  (saves failed)\n");
    for (const Camera& camera : cameras_) {
        const std::string tag = "[" + camera.name + "]  ";
        std::printf("%-12s %5zu %5zu %15zu %12zu %11zu %12zu  (%llu)\n", camera.name.c_str(),
                    CountOf(eventLog_, tag + "camera lost"), CountOf(eventLog_, tag + "camera back"),
                    CountOf(eventLog_, tag + "could not save"),
                    CountOf(eventLog_, tag + "saving works again"), CountOf(eventLog_, tag + "FTP upload of"),
                    CountOf(eventLog_, tag + "mail of"), static_cast<unsigned long long>(camera.savesFailed));
    }
    std::printf("boxes:");
    for (const auto& [caption, count] : boxCaptions_)
        std::printf(" \"%s\" %d", caption.c_str(), count);
    pass = PrintResources() && pass;
    PrintSamples(samples_, bare_, warmup_);
    PrintGrowth(samples_, bare_, warmup_);
    std::printf("\nsoak: %s\n", pass ? "every goal met" : "FAILED: a goal above was missed");
    // What the FTP server saw of every connection, for finding what an upload was doing.
    if (pass)
        std::remove(kTranscriptFile);
    else
        std::printf("the FTP server's log of the run: %s\n", kTranscriptFile);
    return pass;
}

} // namespace lumetra::soak
