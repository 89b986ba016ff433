// Measures lumetra-web under Wine: the time from a save to the new image's last byte on an open
// /stream.mjpg, the same with four cameras of the roster streaming at once (as a ratio to the single
// stream of the same run), and /latest.jpg requests per second with 1 and 20 clients beside Debian's nginx
// serving the same file in the same run (nginx and the wrk client run natively on Linux).
//   web_bench [saves]
#include "WebClient.h" // winsock2.h before windows.h

#include "CameraKeys.h"
#include "FtpServer.h"
#include "StartProcess.h"
#include "WebService.h"
#include "delivery/CameraRoster.h"
#include "delivery/HttpMirror.h"
#include "BenchClock.h"

#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace lumetra::test;
using Clock = std::chrono::steady_clock;

using lumetra::bench::Median;

namespace {

constexpr char kWork[] = "/tmp/lumetra-web-bench";

// A 640x480 camera-like picture (gradient, shapes, noise, a caption), encoded as JPEG in memory.
std::string MakeJpeg(int index) {
    using namespace Gdiplus;
    Bitmap bitmap(640, 480, PixelFormat24bppRGB);
    {
        Graphics graphics(&bitmap);
        LinearGradientBrush sky(Point(0, 0), Point(0, 480), Color(255, 40, 70, 120),
                                Color(255, 160, 150, 110));
        graphics.FillRectangle(&sky, 0, 0, 640, 480);
        SolidBrush shape(Color(255, 200, 60 + index * 4 % 150, 40));
        graphics.FillEllipse(&shape, 40 + index * 13 % 480, 200, 120, 90);
        FontFamily family(L"Tahoma");
        Font font(&family, 28, FontStyleBold, UnitPixel);
        SolidBrush white(Color(255, 255, 255, 255));
        const std::wstring caption = L"Bench frame " + std::to_wstring(index);
        graphics.DrawString(caption.c_str(), -1, &font, PointF(20, 420), &white);
    }
    std::mt19937 random(static_cast<unsigned>(index));
    BitmapData data{};
    Rect all(0, 0, 640, 480);
    bitmap.LockBits(&all, ImageLockModeWrite | ImageLockModeRead, PixelFormat24bppRGB, &data);
    for (int y = 0; y < 480; ++y) {
        auto* row = static_cast<BYTE*>(data.Scan0) + y * data.Stride;
        for (int x = 0; x < 640 * 3; ++x)
            row[x] = static_cast<BYTE>(std::clamp<int>(row[x] + static_cast<int>(random() % 13) - 6, 0, 255));
    }
    bitmap.UnlockBits(&data);

    CLSID jpeg{};
    UINT count = 0, size = 0;
    GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i)
        if (std::wstring(encoders[i].MimeType) == L"image/jpeg")
            jpeg = encoders[i].Clsid;
    IStream* stream = nullptr;
    ::CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    bitmap.Save(stream, &jpeg, nullptr);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string bytes(static_cast<std::size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    stream->Release();
    return bytes;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

bool WaitForStatusNaming(unsigned short port, const std::string& name) {
    for (int i = 0; i < 200; ++i) {
        if (HttpGet(port, "/status.json").body.find("\"name\":\"" + name + "\"") != std::string::npos)
            return true;
        ::Sleep(20);
    }
    return false;
}

// What Wine allows at all: the same answer from a bare loop of blocking Winsock calls per
// connection, with no HTTP parsing, in this process under Wine.
class BareServer {
  public:
    explicit BareServer(const std::string& image) {
        answer_ =
            "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(image.size()) +
            "\r\n\r\n" + image;
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        address.sin_port = ::htons(port_ = FreeLoopbackPort());
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, SOMAXCONN);
        std::thread([this] {
            for (SOCKET client; (client = ::accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;)
                std::thread([this, client] { Serve(client); }).detach();
        }).detach();
    }
    unsigned short Port() const { return port_; }

  private:
    void Serve(SOCKET client) {
        const BOOL noDelay = TRUE;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                     sizeof noDelay);
        const int buffer = 512 * 1024;
        ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
        std::string received;
        char chunk[4096];
        for (int got; (got = ::recv(client, chunk, sizeof chunk, 0)) > 0;) {
            received.append(chunk, static_cast<std::size_t>(got));
            for (std::size_t end; (end = received.find("\r\n\r\n")) != std::string::npos;) {
                received.erase(0, end + 4);
                ::send(client, answer_.data(), static_cast<int>(answer_.size()), 0);
            }
        }
        ::closesocket(client);
    }

    std::string answer_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
};

// Save to last byte, each save in turn: `write(i)` writes image i and names the stream it must arrive
// on, the clock starts, `publish(i)` tells the service, and the clock stops at its last byte there.
struct SaveTimes {
    std::vector<double> latencies; // ms, of the saves that arrived as saved
    int wrong = 0;                 // saves that did not arrive as saved within 3 s
};
template <typename Write, typename Publish>
SaveTimes TimeSaves(int saves, const std::vector<std::string>& images, Write write, Publish publish) {
    SaveTimes times;
    for (int i = 1; i <= saves; ++i) {
        WebConnection& stream = write(i);
        const auto saved = Clock::now();
        publish(i);
        const auto part = stream.ReadPart(3000);
        const auto arrived = Clock::now();
        if (!part || *part != images[i]) {
            ++times.wrong;
            continue;
        }
        times.latencies.push_back(std::chrono::duration<double, std::milli>(arrived - saved).count());
        ::Sleep(100);
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::max(5, std::atoi(argv[1])) : 40;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
    ::CreateDirectoryA(ToWindowsPath(kWork).c_str(), nullptr);
    ::CreateDirectoryA(ToWindowsPath(std::string(kWork) + "/www").c_str(), nullptr);
    ::DeleteFileA(ToWindowsPath(std::string(kWork) + "/load.txt").c_str());

    std::vector<std::string> images;
    for (int i = 0; i < saves + 1; ++i)
        images.push_back(MakeJpeg(i));
    lumetra::HttpMirror mirror;
    if (!mirror.Open()) {
        std::fprintf(stderr, "web_bench: cannot make the shared-memory block\n");
        return 1;
    }
    // lumetra-web serves only what lies in a camera's folder.
    const ScopedCameraKey savesCamera("bench saves"), servedCamera("bench www");
    savesCamera.WriteText("FIL", ToWindowsPath(kWork));
    servedCamera.WriteText("FIL", ToWindowsPath(std::string(kWork) + "/www"));
    const std::string latest = ToWindowsPath(std::string(kWork) + "/www/latest.jpg");
    WriteWhole(latest, images[0]);
    mirror.MirrorImagePath(true, latest);

    const unsigned short port = FreeLoopbackPort();
    WebServiceProcess service;
    if (!service.Start("--port " + std::to_string(port), port)) {
        std::fprintf(stderr, "web_bench: %s did not start\n%s", WebServiceProgram().c_str(),
                     service.Output().c_str());
        return 1;
    }
    std::printf(
        "lumetra-web benchmark: the service runs under Wine; nginx and the wrk client run natively on "
        "Linux.\nImages: 640x480 JPEG, about %zu KB.\n\n",
        images[0].size() / 1024);

    // Save to stream: each save as Lumetra makes it (the file written, then its path published);
    // the clock starts when the file is closed and stops at the image's last byte on the stream.
    WebConnection stream;
    stream.Connect(port);
    stream.Send("GET /stream.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const HttpAnswer header = stream.ReadAnswer();
    if (header.status != 200 || !stream.ReadPart()) {
        std::fprintf(stderr, "web_bench: /stream.mjpg did not start (%d)\n", header.status);
        return 1;
    }
    std::string path;
    const auto [latencies, wrong] = TimeSaves(
        saves, images,
        [&](int i) -> WebConnection& {
            path = ToWindowsPath(std::string(kWork) + "/save-" + std::to_string(i) + ".jpg");
            WriteWhole(path, images[i]);
            return stream;
        },
        [&](int) { mirror.MirrorImagePath(true, path); });
    stream.Close();
    const double median = Median(latencies);
    const double worst = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
    std::printf("Save to last byte on an open /stream.mjpg, %zu saves: median %.1f ms, worst %.1f ms "
                "(goal: under 50 ms: %s)\n",
                latencies.size(), median, worst, worst < 50 ? "met" : "NOT met");
    if (wrong)
        std::printf("  %d saves did not arrive as saved within 3 s\n", wrong);

    // Four cameras of the roster, each on a stream of its own, saving in turn as Lumetra does (the
    // file written, then both blocks naming it); each save timed to its last byte on its own stream.
    constexpr int kCameras = 4;
    lumetra::CameraRoster roster;
    std::vector<lumetra::PublishedCamera> cameras(kCameras);
    std::vector<std::unique_ptr<WebConnection>> cameraStreams;
    bool streaming = roster.Open();
    for (int k = 0; k < kCameras && streaming; ++k) {
        cameras[k].name = "bench cam " + std::to_string(k);
        cameras[k].image = ToWindowsPath(std::string(kWork) + "/cam" + std::to_string(k) + "-0.jpg");
        WriteWhole(cameras[k].image, images[0]);
    }
    roster.Publish(cameras);
    for (int k = 0; k < kCameras && streaming; ++k)
        streaming = WaitForStatusNaming(port, "cam" + std::to_string(k) + "-0.jpg");
    for (int k = 0; k < kCameras && streaming; ++k) {
        cameraStreams.push_back(std::make_unique<WebConnection>());
        cameraStreams[k]->Connect(port);
        cameraStreams[k]->Send("GET /cameras/bench%20cam%20" + std::to_string(k) +
                               "/stream.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        streaming = cameraStreams[k]->ReadAnswer().status == 200 && cameraStreams[k]->ReadPart();
    }
    const auto [fourLatencies, fourWrong] = TimeSaves(
        streaming ? saves : 0, images,
        [&](int i) -> WebConnection& {
            const int k = i % kCameras;
            cameras[k].image = ToWindowsPath(std::string(kWork) + "/cam" + std::to_string(k) + "-" +
                                             std::to_string(i) + ".jpg");
            WriteWhole(cameras[k].image, images[i]);
            return *cameraStreams[k];
        },
        [&](int i) {
            roster.Publish(cameras);
            mirror.MirrorImagePath(true, cameras[i % kCameras].image);
        });
    cameraStreams.clear();
    roster.Close();
    if (!streaming) {
        std::printf("Four /cameras/<name>/stream.mjpg did not start\n");
    } else {
        const double fourMedian = Median(fourLatencies);
        const double fourWorst =
            fourLatencies.empty() ? 0 : *std::max_element(fourLatencies.begin(), fourLatencies.end());
        std::printf(
            "The same with %d cameras streaming at once (/cameras/<name>/stream.mjpg), %zu saves: median "
            "%.1f ms (%.2f of one stream's), worst %.1f ms (%.2f of one stream's) (goal: under 50 ms: %s)\n",
            kCameras, fourLatencies.size(), fourMedian, median > 0 ? fourMedian / median : 0, fourWorst,
            worst > 0 ? fourWorst / worst : 0, fourWorst < 50 ? "met" : "NOT met");
        if (fourWrong)
            std::printf("  %d saves did not arrive as saved within 3 s\n", fourWrong);
    }

    // Requests per second: the same file for both servers.
    WriteWhole(latest, images[0]);
    mirror.MirrorImagePath(true, latest);
    WaitForStatusNaming(port, "latest.jpg");
    const BareServer bare(images[0]);
    std::string command = "Z:\\bin\\sh " LUMETRA_WEB_LOAD_SCRIPT " " + std::to_string(port) + " " + kWork +
                          "/www " + kWork + "/load.txt 4 " + std::to_string(bare.Port());
    lumetra::test::ChildProcess load;
    if (!load.Start(command)) {
        std::fprintf(stderr, "web_bench: cannot start %s\n", command.c_str());
        return 1;
    }
    load.Detach();
    // Wine gives no handle to a Linux program: its result file says when it is done.
    std::map<std::string, double> rates;
    for (int i = 0; i < 1200 && rates.empty(); ++i) {
        ::Sleep(100);
        std::ifstream result(ToWindowsPath(std::string(kWork) + "/load.txt"));
        std::string server;
        int connections = 0;
        double rate = 0;
        while (result >> server >> connections >> rate)
            rates[server + " " + std::to_string(connections)] = rate;
    }
    std::printf(
        "\n/latest.jpg requests per second (wrk, keep-alive, loopback):\n"
        "  clients  lumetra-web      nginx  ratio  (goal: at least 0.5)   bare Winsock loop under Wine\n");
    bool met = !rates.empty();
    for (const int clients : {1, 20}) {
        const double ours = rates["lumetra-web " + std::to_string(clients)];
        const double theirs = rates["nginx " + std::to_string(clients)];
        const double ratio = theirs > 0 ? ours / theirs : 0;
        met = met && ratio >= 0.5;
        const double bareRate = rates["bare " + std::to_string(clients)];
        std::printf("  %7d  %11.0f  %9.0f  %5.2f  %-7s                 %9.0f (lumetra-web: %.2f of it)\n",
                    clients, ours, theirs, ratio, ratio >= 0.5 ? "met" : "NOT met", bareRate,
                    bareRate > 0 ? ours / bareRate : 0);
    }
    if (rates.empty())
        std::printf("  (no result from %s)\n", LUMETRA_WEB_LOAD_SCRIPT);

    service.RequestClose();
    service.WaitForExit(5000);
    mirror.Close();
    Gdiplus::GdiplusShutdown(gdiplus);
    return 0;
}
