// Cost of composing and saving one image, against the bare GDI+ JPEG save of the same bitmap.
// Prints the median and the minimum of several runs for each case. Goals: composing without overlays
// at most 1.1 times the bare save; each overlay at most 0.3 of it at 640 x 480.

#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "framework/Handles.h"
#include "imaging/ImageComposer.h"

using namespace Gdiplus::DllExports;
using Clock = std::chrono::steady_clock;

using lumetra::bench::Median;

namespace {

constexpr int Runs = 21;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

// A bottom-up RGB24 frame with gradients and fine detail, so the encoder has real work.
std::vector<BYTE> MakeFrame(int width, int height) {
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    std::vector<BYTE> bytes(stride * height);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            BYTE* pixel = &bytes[y * stride + x * 3];
            pixel[0] = static_cast<BYTE>((x * 255) / width ^ ((noise >> 24) & 15));
            pixel[1] = static_cast<BYTE>((y * 255) / height);
            pixel[2] = static_cast<BYTE>(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
        }
    return bytes;
}

bool WriteWatermark(const std::string& path) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(160, 100, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Gdiplus::Ok)
        return false;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            GdipBitmapSetPixel(bitmap, x, y, ((x / 20 + y / 20) % 2) ? 0xFFFFFFFF : 0xFF2040C0);
    CLSID png;
    const bool saved = lumetra::FindEncoderClsid(L"image/png", &png) >= 0 &&
                       GdipSaveImageToFile(bitmap, Wide(path).c_str(), &png, nullptr) == Gdiplus::Ok;
    GdipDisposeImage(bitmap);
    return saved;
}

double MinMs(const std::vector<double>& samples) {
    return *std::min_element(samples.begin(), samples.end());
}

double TimeMs(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main() {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::puts("GDI+ did not start");
        return 1;
    }
    char tempFolder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, tempFolder);
    const std::string folder = std::string(tempFolder) + "lumetra-compose-bench";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string watermark = folder + "\\watermark.png";
    const std::string target = folder + "\\frame.jpg";
    if (!WriteWatermark(watermark)) {
        std::puts("could not write the watermark picture");
        return 1;
    }
    CLSID jpeg;
    if (lumetra::FindEncoderClsid(L"image/jpeg", &jpeg) < 0) {
        std::puts("no JPEG encoder");
        return 1;
    }

    lumetra::OverlaySettings none;
    lumetra::OverlaySettings text;
    std::snprintf(text.text, sizeof text.text, "Front door camera\r\nLumetra webcam monitor");
    std::snprintf(text.textFont.lfFaceName, sizeof text.textFont.lfFaceName, "Tahoma");
    text.textFont.lfHeight = -24;
    text.textFont.lfWeight = FW_BOLD;
    text.fontColour = RGB(255, 255, 0);
    text.textX = 20;
    text.textY = 20;
    lumetra::OverlaySettings plain;
    plain.useWatermark = 1;
    plain.watermarkPath = watermark;
    plain.watermarkX = 40;
    plain.watermarkY = 60;
    plain.useTransparent = 1;
    plain.lowRed = plain.lowGreen = plain.lowBlue = 250;
    plain.highRed = plain.highGreen = plain.highBlue = 255;
    lumetra::OverlaySettings polygon = plain;
    polygon.polygonWatermark = 1;
    polygon.polygonSides = 5;
    polygon.watermarkWidth = 200;
    polygon.watermarkHeight = 200;
    // The plain watermark above is stretched (its size is counted from the frame's corner); at the
    // corner it is drawn pixel for pixel, which shows what the stretching itself costs.
    lumetra::OverlaySettings corner = plain;
    corner.watermarkX = 0;
    corner.watermarkY = 0;

    std::printf("%d runs, milliseconds; overlay cost = (compose with it - compose without) / bare encode\n",
                Runs);
    std::printf("goals: compose with no overlay at most x1.10; each overlay at most 0.30 at 640 x 480\n");
    for (auto [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        std::vector<BYTE> frame = MakeFrame(width, height);
        const auto byteCount = static_cast<uint32_t>(frame.size());

        // The bare save: a bitmap over the same pixels, saved with the same encoder and no overlay.
        std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + frame.size());
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        std::copy_n(reinterpret_cast<const BYTE*>(&header), sizeof header, dib.begin());
        std::copy(frame.begin(), frame.end(), dib.begin() + sizeof header);
        Gdiplus::GpBitmap* bitmap = nullptr;
        GdipCreateBitmapFromGdiDib(reinterpret_cast<const BITMAPINFO*>(dib.data()),
                                   dib.data() + sizeof header, &bitmap);
        const std::wstring wideTarget = Wide(target);

        // A watermark file that changed since the last image (a new time stamp) is decoded again.
        const std::wstring wideWatermark = Wide(watermark);
        ULONGLONG stampSeconds = 0;
        const auto touchWatermark = [&] {
            FILETIME stamp{};
            GetSystemTimeAsFileTime(&stamp);
            ULARGE_INTEGER time{{stamp.dwLowDateTime, stamp.dwHighDateTime}};
            time.QuadPart += ++stampSeconds * 10'000'000ull;
            stamp = {time.LowPart, time.HighPart};
            lumetra::UniqueFile file(CreateFileW(wideWatermark.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
            if (file)
                SetFileTime(file.get(), nullptr, nullptr, &stamp);
        };

        std::vector<double> encode, composeNone, composeText, composePlain, composePolygon, composeCorner,
            composeChanged;
        const auto compose = [&](const lumetra::OverlaySettings& overlay) {
            return TimeMs([&] {
                lumetra::ComposeAndSaveFrame(0.0, frame.data(), byteCount, width, height, target.c_str(),
                                             overlay);
            });
        };
        // One warm-up round, then the cases interleaved so they share the machine's ups and downs.
        for (int run = 0; run <= Runs; ++run) {
            const double e = TimeMs([&] { GdipSaveImageToFile(bitmap, wideTarget.c_str(), &jpeg, nullptr); });
            const double n = compose(none), t = compose(text), p = compose(plain), g = compose(polygon);
            const double k = compose(corner);
            touchWatermark();
            const double c = compose(plain);
            if (run == 0)
                continue;
            composeChanged.push_back(c);
            encode.push_back(e);
            composeNone.push_back(n);
            composeText.push_back(t);
            composePlain.push_back(p);
            composePolygon.push_back(g);
            composeCorner.push_back(k);
        }
        GdipDisposeImage(bitmap);

        // Medians, and minimums as the figure least disturbed by other work on the machine.
        const double e = Median(encode), n = Median(composeNone);
        const double eMin = MinMs(encode), nMin = MinMs(composeNone);
        std::printf("\n%-30s %8s %8s | of the bare save: total, overlay (median, min)\n",
                    (std::to_string(width) + " x " + std::to_string(height)).c_str(), "median", "min");
        std::printf("  %-28s %8.2f %8.2f |\n", "bare JPEG save", e, eMin);
        std::printf("  %-28s %8.2f %8.2f |  x%.2f\n", "compose, no overlay", n, nMin, n / e);
        const auto row = [&](const char* name, const std::vector<double>& samples) {
            const double value = Median(samples), least = MinMs(samples);
            std::printf("  compose, %-19s %8.2f %8.2f |  x%.2f   %5.2f %5.2f\n", name, value, least,
                        value / e, (value - n) / e, (least - nMin) / eMin);
        };
        row("text", composeText);
        row("plain watermark", composePlain);
        row("polygon watermark", composePolygon);
        row("watermark at 0, 0", composeCorner);
        row("watermark, new file", composeChanged);
    }
    DeleteFileA(target.c_str());
    DeleteFileA(watermark.c_str());
    RemoveDirectoryA(folder.c_str());
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
