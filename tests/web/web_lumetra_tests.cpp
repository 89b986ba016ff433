// Lumetra and lumetra-web together, as a user runs them: lumetra.exe saves from the test camera with
// "Mirror file path to HTTP service" ticked, and Linux's own curl and headless Chromium (started from
// here; Wine lets them reach the service's loopback port) read what the service makes of it.
#include "WebClient.h"
#include "WebService.h"

#include "CameraKeys.h"
#include "Evidence.h"
#include "LumetraRun.h"
#include "StartProcess.h"
#include "TestCameras.h"
#include "TestPattern.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <set>

using namespace lumetra::e2e;
using lumetra::test::HttpGet;
using lumetra::test::WebConnection;
using lumetra::test::WebServiceProcess;

namespace {

constexpr char kCamera[] = "Web Test Camera";
// Beside it on the web: one showing a still picture (a white block over the colour bars) and one
// whose Mirror box is not ticked.
constexpr char kStillCamera[] = "Web Still Camera";
constexpr char kUnmirroredCamera[] = "Web Unmirrored Camera";
constexpr char kHostWork[] = "/tmp/lumetra-web-e2e";

std::string FileText(const std::string& path) {
    const std::vector<char> bytes = ReadWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

// Starts a Linux command line through /bin/sh and waits until it leaves `doneFile` behind.
bool RunOnHost(const std::string& command, const std::string& doneFile, DWORD timeoutMs) {
    std::string commandLine = "Z:\\bin\\sh -c \"" + command + "; touch " + doneFile + "\"";
    lumetra::test::ChildProcess process;
    if (!process.Start(commandLine))
        return false;
    process.Detach();
    return WaitUntil([&] { return FileExists(ToWindowsPath(doneFile)); }, timeoutMs);
}

// Whether browser_check.py has written `name` into `hostWork` (it writes error.txt when it gives up).
bool BrowserReported(const std::string& hostWork, const std::string& name) {
    return WaitUntil(
               [&] { return FileExists(hostWork + "\\" + name) || FileExists(hostWork + "\\error.txt"); },
               60000) &&
           FileExists(hostWork + "\\" + name);
}

double JsonNumber(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? NAN : std::atof(json.c_str() + at + key.size() + 3);
}
std::string JsonText(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": \"");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size() + 5;
    return json.substr(start, json.find('"', start) - start);
}

class WithLumetra : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gdiplus = std::make_unique<GdiplusSession>();
        cameras = std::make_unique<lumetra::test::TestCameras>();
        cameras->Register(std::string(kCamera));
    }
    static void TearDownTestSuite() {
        cameras->Unregister(std::string(kCamera));
        cameras.reset();
        gdiplus.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(cameras->loaded()) << "lumetra_testcam.dll not found under %LUMETRA_BUILD_DIR%";
        DeleteCameraKey(kCamera);
        folder = FreshWorkFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // A camera set up in an earlier session: Lumetra stores its folder when CAM ACTION closes,
        // and lumetra-web serves only what lies in such a folder.
        ASSERT_TRUE(lumetra::test::WriteCameraValue(kCamera, "FIL", REG_SZ, folder.c_str(),
                                                    static_cast<DWORD>(folder.size() + 1)));
        port = lumetra::test::FreeLoopbackPort();
        ASSERT_TRUE(service.Start("--port " + std::to_string(port), port)) << service.Output();
        ASSERT_TRUE(run.Start(TestedProgram())) << "lumetra.exe did not show its camera list";
        camera = OpenSaving(kCamera, folder, true);
    }
    // Opens a camera that saves "door<time>.jpg" into `directory`.
    CameraWindows OpenSaving(const char* name, const std::string& directory, bool mirror) {
        CameraWindows windows = run.Open(name);
        EXPECT_TRUE(windows.camAction) << name << ": the camera's windows did not open";
        CameraSetup setup;
        setup.directory = directory;
        setup.fileName = "door";
        setup.mirror = mirror;
        EXPECT_TRUE(windows.camAction && run.Configure(windows.camAction, setup) &&
                    SetChecked(windows.camAction, ids::AppendTime, true));
        return windows;
    }
    void TearDown() override {
        if (run.Process().Running()) {
            EXPECT_TRUE(run.Exit());
        }
        service.RequestClose();
        EXPECT_TRUE(service.WaitForExit(5000));
    }

    // Saves with "Save Current Image"; returns the new file once it is written.
    std::string SaveNow() { return SaveNow(camera, folder); }
    std::string SaveNow(const CameraWindows& windows, const std::string& directory) {
        const std::vector<std::string> before = FilesIn(directory, "door*.jpg");
        ::Sleep(1000); // the appended time counts whole seconds
        Press(windows.camAction, ids::SaveCurrentImage);
        std::string saved;
        WaitUntil(
            [&] {
                for (const std::string& name : FilesIn(directory, "door*.jpg"))
                    if (std::find(before.begin(), before.end(), name) == before.end())
                        saved = directory + "\\" + name;
                return !saved.empty() && WaitForImage(saved, 100);
            },
            8000);
        return saved;
    }
    bool ServiceNames(const std::string& name) {
        return WaitUntil(
            [&] {
                return HttpGet(port, "/status.json").body.find("\"name\":\"" + name + "\"") !=
                       std::string::npos;
            },
            5000);
    }

    static inline std::unique_ptr<GdiplusSession> gdiplus;
    static inline std::unique_ptr<lumetra::test::TestCameras> cameras;
    std::string folder;
    unsigned short port = 0;
    WebServiceProcess service;
    LumetraRun run;
    CameraWindows camera;
};

TEST_F(WithLumetra, CurlGetsTheImageLumetraJustSaved) {
    const std::string saved = SaveNow();
    ASSERT_FALSE(saved.empty()) << "Lumetra saved nothing";
    const std::string name = saved.substr(saved.find_last_of('\\') + 1);
    ASSERT_TRUE(ServiceNames(name)) << HttpGet(port, "/status.json").body;

    const std::string work = std::string(kHostWork) + "-curl";
    RemoveTree(ToWindowsPath(work));
    ::CreateDirectoryA(ToWindowsPath(work).c_str(), nullptr);
    ASSERT_TRUE(RunOnHost("curl -s -o " + work + "/latest.jpg -D " + work +
                              "/headers.txt http://127.0.0.1:" + std::to_string(port) + "/latest.jpg",
                          work + "/done", 20000))
        << "curl did not finish";
    EXPECT_TRUE(ReadWholeFile(ToWindowsPath(work + "/latest.jpg")) == ReadWholeFile(saved))
        << "curl's copy differs from " << saved;
    EXPECT_NE(FileText(ToWindowsPath(work + "/headers.txt")).find("Content-Type: image/jpeg"),
              std::string::npos);
    RemoveTree(ToWindowsPath(work));
}

TEST_F(WithLumetra, StreamCarriesEverySaveOfSaveAuto) {
    ASSERT_FALSE(SaveNow().empty());
    WebConnection stream;
    ASSERT_TRUE(stream.Connect(port));
    stream.Send("GET /stream.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_EQ(stream.ReadAnswer().status, 200);
    ASSERT_TRUE(stream.ReadPart()) << "no current image at the start";

    ASSERT_TRUE(Type(camera.camAction, ids::SaveSeconds, "1"));
    ASSERT_TRUE(SetChecked(camera.camAction, ids::SaveAuto, true));
    std::set<std::string> parts;
    const DWORD start = ::GetTickCount();
    while (parts.size() < 3 && ::GetTickCount() - start < 15000)
        if (auto part = stream.ReadPart(3000))
            parts.insert(*part);
    SetChecked(camera.camAction, ids::SaveAuto, false);
    EXPECT_GE(parts.size(), 3u) << "distinct images on the stream while Save Auto ran";
    // Each is one of the files Lumetra wrote, byte for byte.
    std::set<std::string> files;
    for (const std::string& name : FilesIn(folder, "door*.jpg")) {
        const std::vector<char> bytes = ReadWholeFile(folder + "\\" + name);
        files.insert({bytes.begin(), bytes.end()});
    }
    for (const std::string& part : parts)
        EXPECT_TRUE(files.count(part)) << "a part that is no saved file";
}

TEST_F(WithLumetra, ChromiumShowsTheCameraAndFollowsTheNextSaveWithoutReload) {
    if (!FileExists("Z:\\usr\\bin\\chromium"))
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    const std::string first = SaveNow();
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(ServiceNames(first.substr(first.find_last_of('\\') + 1)));

    const std::string work = std::string(kHostWork) + "-browser";
    const std::string hostWork = ToWindowsPath(work);
    RemoveTree(hostWork);
    ::CreateDirectoryA(hostWork.c_str(), nullptr);
    lumetra::test::ChildProcess browserCheck;
    // The single image stays at /index.html; "/" shows every camera of the roster.
    ASSERT_TRUE(browserCheck.Start("Z:\\usr\\bin\\python3 " LUMETRA_BROWSER_CHECK " http://127.0.0.1:" +
                                   std::to_string(port) + "/index.html " + work));
    ASSERT_TRUE(BrowserReported(hostWork, "first.json")) << FileText(hostWork + "\\error.txt");

    // The screenshot shows the camera's picture where the page put it: the test pattern's patches.
    const auto expectCameraPicture = [&](const std::string& json, const std::string& png) {
        const auto shot = LoadPicture(png);
        ASSERT_TRUE(shot) << png;
        const double x = JsonNumber(json, "x"), y = JsonNumber(json, "y");
        ASSERT_EQ(JsonNumber(json, "width"), 640) << json;
        for (const auto& patch : lumetra::testcam::ReferencePatches()) {
            double r, g, b;
            shot->Mean(static_cast<int>(x) + patch.x + 24, static_cast<int>(y) + patch.y + 24, 16, 16, r, g,
                       b);
            EXPECT_LT(std::fabs(r - patch.r) + std::fabs(g - patch.g) + std::fabs(b - patch.b), 90)
                << "patch " << int(patch.r) << "," << int(patch.g) << "," << int(patch.b) << " shows " << r
                << "," << g << "," << b << " in " << png;
        }
    };
    const std::string firstJson = FileText(hostWork + "\\first.json");
    EXPECT_EQ(JsonText(firstJson, "name"), first.substr(first.find_last_of('\\') + 1));
    expectCameraPicture(firstJson, hostWork + "\\first.png");

    const std::string second = SaveNow();
    ASSERT_FALSE(second.empty());
    std::ofstream(hostWork + "\\go").put('x');
    ASSERT_TRUE(BrowserReported(hostWork, "second.json")) << FileText(hostWork + "\\error.txt");
    const std::string secondJson = FileText(hostWork + "\\second.json");
    EXPECT_EQ(JsonText(secondJson, "name"), second.substr(second.find_last_of('\\') + 1));
    EXPECT_NE(secondJson.find("\"sameDocument\": true"), std::string::npos)
        << "the page reloaded: " << secondJson;
    expectCameraPicture(secondJson, hostWork + "\\second.png");
    // The check ends by itself once it has reported the second page.
    browserCheck.Detach();
}

// The cameras in status.json, by name, once `done` holds for them (or when the time is up).
template <typename Done> nlohmann::json CamerasOnce(unsigned short port, Done done, DWORD timeoutMs = 10000) {
    nlohmann::json cameras;
    WaitUntil(
        [&] {
            const auto status = nlohmann::json::parse(HttpGet(port, "/status.json").body);
            cameras = nlohmann::json::object();
            for (const auto& listed : status.at("cameras"))
                cameras[listed.value("name", "")] = listed;
            return done(cameras);
        },
        timeoutMs);
    return cameras;
}

TEST_F(WithLumetra, ChromiumShowsEveryMirroredCameraWithItsOwnImagesAndTheOneUnplugged) {
    if (!FileExists("Z:\\usr\\bin\\chromium"))
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    lumetra::test::ScopedTestCamera still(*cameras, kStillCamera), unmirrored(*cameras, kUnmirroredCamera);
    ASSERT_TRUE(still.registered() && unmirrored.registered());
    ASSERT_TRUE(cameras->SetScene(kStillCamera, lumetra::testcam::kSceneStill));
    std::map<std::string, std::string> folders = {{kCamera, folder}};
    for (const char* name : {kStillCamera, kUnmirroredCamera}) {
        DeleteCameraKey(name);
        folders[name] = FreshWorkFolder(std::string("WebCameras-") + name);
        ASSERT_TRUE(lumetra::test::WriteCameraValue(name, "FIL", REG_SZ, folders[name].c_str(),
                                                    static_cast<DWORD>(folders[name].size() + 1)));
    }
    std::map<std::string, CameraWindows> windows = {
        {kCamera, camera},
        {kStillCamera, OpenSaving(kStillCamera, folders[kStillCamera], true)},
        {kUnmirroredCamera, OpenSaving(kUnmirroredCamera, folders[kUnmirroredCamera], false)}};
    std::map<std::string, std::string> saved;
    for (const auto& [name, window] : windows)
        ASSERT_FALSE((saved[name] = SaveNow(window, folders[name])).empty()) << name << " saved nothing";
    const auto fileName = [](const std::string& path) { return path.substr(path.find_last_of('\\') + 1); };
    const auto showsLastSaves = [&](const nlohmann::json& listed) {
        return listed.size() == 2 && listed.contains(kCamera) && listed.contains(kStillCamera) &&
               listed[kCamera]["image"].value("name", "") == fileName(saved[kCamera]) &&
               listed[kStillCamera]["image"].value("name", "") == fileName(saved[kStillCamera]);
    };
    nlohmann::json listed = CamerasOnce(port, showsLastSaves);
    ASSERT_TRUE(showsLastSaves(listed)) << listed.dump(1);
    const std::string lastSave = listed[kCamera].value("lastSave", ""); // "2026-01-31T12:00:00Z"
    EXPECT_TRUE(lastSave.size() == 20 && lastSave[10] == 'T' && lastSave.back() == 'Z') << lastSave;
    EXPECT_TRUE(listed[kCamera]["lastFailure"].is_null()) << listed.dump(1);

    // Each stream carries its own camera's saves, and nothing when only the other one saves.
    std::map<std::string, std::unique_ptr<WebConnection>> streams;
    for (const char* name : {kCamera, kStillCamera}) {
        auto& stream = streams[name] = std::make_unique<WebConnection>();
        ASSERT_TRUE(stream->Connect(port) && stream->Send("GET " + listed[name].value("stream", "") +
                                                          " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        ASSERT_EQ(stream->ReadAnswer().status, 200) << name;
        const auto first = stream->ReadPart();
        EXPECT_TRUE(first && *first == FileText(saved[name])) << name << " does not open with its last save";
    }
    for (const auto& [name, other] : {std::pair{kCamera, kStillCamera}, std::pair{kStillCamera, kCamera}}) {
        saved[name] = SaveNow(windows[name], folders[name]);
        const auto part = streams[name]->ReadPart(5000);
        EXPECT_TRUE(part && *part == FileText(saved[name])) << name << "'s new save is not on its stream";
        EXPECT_FALSE(streams[other]->ReadPart(700)) << name << "'s save came on " << other << "'s stream";
    }

    const std::string work = std::string(kHostWork) + "-cameras", hostWork = ToWindowsPath(work);
    RemoveTree(hostWork);
    ::CreateDirectoryA(hostWork.c_str(), nullptr);
    lumetra::test::ChildProcess browserCheck;
    ASSERT_TRUE(browserCheck.Start("Z:\\usr\\bin\\python3 " LUMETRA_BROWSER_CHECK " http://127.0.0.1:" +
                                   std::to_string(port) + "/ " + work + " cameras"));
    ASSERT_TRUE(BrowserReported(hostWork, "first.json")) << FileText(hostWork + "\\error.txt");
    listed = CamerasOnce(port, showsLastSaves);
    const auto tiles = nlohmann::json::parse(FileText(hostWork + "\\first.json"), nullptr, false)["tiles"];
    ASSERT_EQ(tiles.size(), 2u) << tiles.dump(1);
    const auto shot = LoadPicture(hostWork + "\\first.png");
    ASSERT_TRUE(shot);
    for (const auto& tile : tiles) {
        const std::string name = tile.value("name", "");
        ASSERT_TRUE(listed.contains(name)) << name << " is on the page";
        EXPECT_EQ(tile.value("image", 0), listed[name]["image"].value("sequence", -1))
            << name << "'s newest image";
        // Its red patch, and where the still picture has its white block the moving one has a 75 % bar.
        const auto mean = [&](int x, int y) {
            const double scale = tile.value("width", 0.0) / 640;
            double r, g, b;
            shot->Mean(static_cast<int>(tile.value("x", 0.0) + x * scale),
                       static_cast<int>(tile.value("y", 0.0) + y * scale), 8, 8, r, g, b);
            return std::array<double, 3>{r, g, b};
        };
        const auto red = mean(60, 284), block = mean(48, 120);
        EXPECT_TRUE(red[0] > 200 && red[1] < 60 && red[2] < 60) << name << ": no red patch";
        EXPECT_EQ(block[0] + block[1] + block[2] > 3 * 225, name == kStillCamera) << name << ": " << block[0];
    }

    ASSERT_TRUE(cameras->Unplug(kStillCamera));
    listed = CamerasOnce(port, [](const nlohmann::json& now) {
        return now.contains(kStillCamera) && now[kStillCamera].value("state", "") == "waiting";
    });
    EXPECT_EQ(listed[kStillCamera].value("state", ""), "waiting") << listed.dump(1);
    EXPECT_EQ(listed[kCamera].value("state", ""), "live");
    std::ofstream(hostWork + "\\go").put('x');
    ASSERT_TRUE(BrowserReported(hostWork, "second.json")) << FileText(hostWork + "\\error.txt");
    for (const auto& tile :
         nlohmann::json::parse(FileText(hostWork + "\\second.json"), nullptr, false)["tiles"])
        EXPECT_EQ(tile.value("note", "").find("Waiting for the camera") == 0,
                  tile.value("name", "") == kStillCamera)
            << tile.dump();
    cameras->Replug(kStillCamera);
    browserCheck.Detach();
    for (const char* name : {kStillCamera, kUnmirroredCamera})
        DeleteCameraKey(name);
}

} // namespace
