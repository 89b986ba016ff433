// Checks an installation made by the Lumetra installer, for scripts/package.sh:
//   lumetra_install_check <install folder> <version such as 1.0.0> <folder for an image>
// Both programs carry that version; the installed test-camera script registers the camera; the
// installed lumetra.exe shows its camera list with that camera, saves an image into the folder and
// keeps the camera's settings (for the uninstaller to leave alone); the installed lumetra-web.exe
// answers on loopback and ends on a close request. Prints what it found; exit code 0 when all held.
#include "WebClient.h"
#include "WebService.h"

#include "FtpServer.h"
#include "LumetraRun.h"
#include "StartProcess.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace lumetra::e2e;

namespace {

int failures = 0;

void Check(bool held, const std::string& what) {
    std::printf("  %s %s\n", held ? "ok:  " : "FAIL:", what.c_str());
    failures += held ? 0 : 1;
}

// The version resource's numbers and its ProductVersion text.
std::string VersionOf(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::vector<char> data(size);
    if (!size || !::GetFileVersionInfoA(path.c_str(), 0, size, data.data()))
        return "(no version resource)";
    VS_FIXEDFILEINFO* fixed = nullptr;
    char* text = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        !::VerQueryValueA(data.data(), "\\StringFileInfo\\040904b0\\ProductVersion",
                          reinterpret_cast<void**>(&text), &length))
        return "(incomplete version resource)";
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", unsigned{HIWORD(fixed->dwFileVersionMS)},
                  unsigned{LOWORD(fixed->dwFileVersionMS)}, unsigned{HIWORD(fixed->dwFileVersionLS)},
                  unsigned{LOWORD(fixed->dwFileVersionLS)});
    return std::string(numbers) + " / " + text;
}

bool RunAndWait(std::string commandLine, DWORD timeoutMs) {
    lumetra::test::ChildProcess process;
    return process.Start(std::move(commandLine)) && process.WaitForExit(timeoutMs) && process.ExitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumetra_install_check <install folder> <version> <image folder>\n");
        return 2;
    }
    const std::string folder = argv[1], version = argv[2], images = argv[3];
    std::printf("Checking the installation in %s\n", folder.c_str());

    const std::string expected = version + ".0 / " + version + ".0";
    for (const char* program : {"lumetra.exe", "lumetra-web.exe"}) {
        const std::string found = VersionOf(folder + "\\" + program);
        Check(found == expected, std::string(program) + " version " + found);
    }

    Check(RunAndWait("cmd /c \"\"" + folder + "\\register-test-camera.cmd\" /s\"", 30000),
          "register-test-camera.cmd registered the test camera");
    LumetraRun run;
    const bool started = run.Start(folder + "\\lumetra.exe");
    Check(started, "the installed lumetra.exe shows its camera list");
    if (started) {
        bool listed = false;
        for (const std::string& name : ListedCameras(run.CameraList()))
            listed = listed || name == "Lumetra Test Camera";
        Check(listed, "the camera list names \"Lumetra Test Camera\"");
        const CameraWindows camera = run.Open("Lumetra Test Camera");
        CameraSetup setup;
        setup.directory = images;
        setup.fileName = "installed";
        Check(camera.camAction && run.Configure(camera.camAction, setup) &&
                  Press(camera.camAction, ids::SaveCurrentImage) && WaitForImage(images + "\\installed.jpg"),
              "the test camera opens and saves " + images + "\\installed.jpg");
        Check(camera.liveView && run.CloseWith(camera.liveView, camera),
              "the camera closes, keeping its settings");
        Check(run.Exit(), "lumetra.exe ends with Exit");
    }

    const unsigned short port = lumetra::test::FreeLoopbackPort();
    lumetra::test::WebServiceProcess web;
    const bool answering = web.Start("--port " + std::to_string(port), port, folder + "\\lumetra-web.exe");
    const lumetra::test::HttpAnswer status = lumetra::test::HttpGet(port, "/status.json");
    Check(answering && status.status == 200,
          "the installed lumetra-web.exe answers /status.json on 127.0.0.1:" + std::to_string(port));
    Check(web.RequestClose() && web.WaitForExit(5000) && web.ExitCode() == 0,
          "lumetra-web.exe ends on a close request");
    std::printf("%s\n", failures ? "The installation check FAILED." : "The installation works.");
    return failures ? 1 : 0;
}
