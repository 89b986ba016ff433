// Soak run: four test cameras on the real camera timer and clock save, upload and mail every second
// second for minutes while faults come and go: the FTP server stopped and started again (its boxes left
// unanswered for a while), a server that accepts and never answers, a camera unplugged and plugged back,
// a save folder deleted and made again. Prints per camera what was due, written, missed while healthy,
// uploaded and mailed, what the event log says, and the process's resources at start and end; exits
// with 1 when a correctness goal fails.
//
// Usage: soak_bench [length] - minutes (default 10; "0.5" is half a minute), or seconds as "90s".
// Needs LUMETRA_BUILD_DIR (the test camera) and the recording MAPI32.DLL next to the program.
#include "Soak.h"

#include "MailLog.h"

#include <cstdio>
#include <cstdlib>

using namespace lumetra;
using namespace lumetra::test;
using namespace lumetra::soak;

namespace {

// "10" minutes, "0.5" minutes, "90s" seconds.
double RunSeconds(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (!(value > 0))
        return 600;
    return *end == 's' || *end == 'S' ? value : value * 60;
}

} // namespace

int main(int argc, char** argv) {
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
    Soak soak(devices, argc > 1 ? RunSeconds(argv[1]) : 600, mail.File("mapi.log"));
    bool pass = false;
    {
        MainWindow main(true);
        if (soak.Start(main)) {
            soak.Run();
            soak.Finish();
            pass = soak.Report();
        }
        main.Exit();
    }
    std::fflush(stdout);
    ::WSACleanup();
    return pass ? 0 : 1;
}
