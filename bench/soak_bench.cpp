// Soak run: four test cameras on the real camera timer and clock save, upload and mail every second
// second for minutes while faults come and go: the FTP server stopped and started again (its boxes left
// unanswered for a while), a server that accepts and never answers, a camera unplugged and plugged back,
// a save folder deleted and made again. Prints per camera what was due, written, missed while healthy,
// uploaded and mailed, what the event log says, and the process's resources at start and end, every
// minute, and their growth an hour after a warm-up beside Wine's share (a bare loop of the Wine calls the
// lost cameras made); exits with 1 when a correctness goal fails.
//
// Usage: soak_bench [length] [--no-faults | --only KIND] [--warmup MINUTES] [--unplugged MINUTES]
//   length       minutes (default 10; "0.5" is half a minute), or seconds as "90s"
//   --no-faults  the cameras at work and nothing going wrong
//   --only KIND  one kind of fault, again and again for the whole run: ftp-down, ftp-silent,
//                camera-lost, folder-deleted, boxes-open or mail-failing
//   --warmup M   growth is fitted from minute M on (default 5, a quarter of a shorter run)
//   --unplugged M  the unplugged camera of the mixed faults stays away M minutes (default 30 in runs
//                of 45 minutes or more, a tenth of a shorter run)
// Needs LUMETRA_BUILD_DIR (the test camera) and the recording MAPI32.DLL next to the program.
#include "Soak.h"

#include "MailLog.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

using namespace lumetra;
using namespace lumetra::test;
using namespace lumetra::soak;

namespace {

const std::map<std::string, Faults> kFaultNames{
    {"ftp-down", Faults::FtpDown},       {"ftp-silent", Faults::FtpSilent},
    {"camera-lost", Faults::CameraLost}, {"folder-deleted", Faults::FolderDeleted},
    {"boxes-open", Faults::BoxesOpen},   {"mail-failing", Faults::MailFailing}};

// "10" minutes, "0.5" minutes, "90s" seconds.
double RunSeconds(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (!(value > 0))
        return 600;
    return *end == 's' || *end == 'S' ? value : value * 60;
}

// Minutes as a number of seconds; none for text that is no number of minutes from 0 on.
std::optional<double> Minutes(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0))
        return std::nullopt;
    return value * 60;
}

// The options, or a sentence that says what is wrong with them.
std::optional<Options> ReadOptions(int argc, char** argv, std::string& problem) {
    Options options;
    bool lengthGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--no-faults") {
            options.faults = Faults::None;
        } else if (option == "--only" && value && kFaultNames.count(value)) {
            options.faults = kFaultNames.at(value);
            options.only = argv[++i];
        } else if (option == "--warmup" && value && Minutes(value)) {
            options.warmupSeconds = Minutes(argv[++i]);
        } else if (option == "--unplugged" && value && Minutes(value).value_or(0) > 0) {
            options.unpluggedSeconds = Minutes(argv[++i]);
        } else if (!lengthGiven && option.rfind("--", 0) != 0) {
            options.seconds = RunSeconds(argv[i]);
            lengthGiven = true;
        } else {
            problem = "cannot read \"" + option + (value ? " " + std::string(value) : std::string()) + "\"";
            return std::nullopt;
        }
    }
    if (options.unpluggedSeconds && options.faults != Faults::Mixed)
        problem = "--unplugged goes with the mixed faults only";
    // The unplug starts a tenth into the run at the earliest, and its return needs time to be seen.
    else if (options.unpluggedSeconds && *options.unpluggedSeconds > 0.90 * options.seconds - 90)
        problem = "the run must last more than the time unplugged, a tenth of the run and 90 s";
    return problem.empty() ? std::optional<Options>(options) : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    std::string problem;
    const std::optional<Options> options = ReadOptions(argc, argv, problem);
    if (!options) {
        std::fprintf(
            stderr,
            "soak_bench: %s\nusage: soak_bench [length: minutes, or seconds as 90s] [--no-faults | --only "
            "ftp-down|ftp-silent|camera-lost|folder-deleted|boxes-open|mail-failing] [--warmup MINUTES] "
            "[--unplugged MINUTES]\n",
            problem.c_str());
        return 2;
    }
    // Without the recorder every mail would go to the desktop's mail program, a window each.
    if (!RecordingMailProviderLoaded()) {
        std::fprintf(
            stderr,
            "soak_bench mails every saved image and must reach the recording MAPI32.DLL beside it, "
            "not the system's. Run it from the source folder as\n"
            "  WINEPREFIX=$PWD/build/wineprefix WINEDLLOVERRIDES=mapi32=n,b LUMETRA_BUILD_DIR=$PWD/build "
            "xvfb-run -a wine build/bench/soak_bench.exe 1\n"
            "or through CTest: ctest --test-dir build -R soak_1min_tests\n");
        return 2;
    }
    StartProgramLibraries();
    WSADATA winsock;
    ::WSAStartup(MAKEWORD(2, 2), &winsock);
    TestCameras devices;
    if (!devices.loaded()) {
        std::fprintf(stderr, "test camera DLL not found (LUMETRA_BUILD_DIR)\n");
        return 1;
    }
    TempFolder mail("soak-mail");
    ::SetEnvironmentVariableA("LUMETRA_MAPI_LOG", mail.File("mapi.log").c_str());
    Soak soak(devices, *options, mail.File("mapi.log"));
    bool started = false;
    {
        MainWindow main(true);
        started = soak.Start(main);
        if (started) {
            soak.Run();
            soak.Finish();
        }
        main.Exit();
    }
    // With every camera closed, what the bare loop adds is Wine's alone.
    if (started)
        soak.ReplayBareLoop();
    const bool pass = started && soak.Report();
    std::fflush(stdout);
    ::WSACleanup();
    return pass ? 0 : 1;
}
