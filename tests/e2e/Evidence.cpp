#include <winsock2.h>

#include "Evidence.h"
#include "TestCameras.h"

#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace lumetra::e2e {

namespace {

using namespace Gdiplus::DllExports;
using lumetra::test::Narrow;
using lumetra::test::Widen;

bool EncoderFor(const wchar_t* mimeType, CLSID& clsid) {
    UINT count = 0, bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0)
        return false;
    std::vector<BYTE> storage(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    if (GdipGetImageEncoders(count, bytes, encoders) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i)
        if (std::wcscmp(encoders[i].MimeType, mimeType) == 0) {
            clsid = encoders[i].Clsid;
            return true;
        }
    return false;
}

struct ImageDisposer {
    void operator()(Gdiplus::GpImage* image) const { GdipDisposeImage(image); }
};
using ImageOwner = std::unique_ptr<Gdiplus::GpImage, ImageDisposer>;

} // namespace

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}
GdiplusSession::~GdiplusSession() {
    Gdiplus::GdiplusShutdown(token_);
}

void Picture::Mean(int x, int y, int w, int h, double& r, double& g, double& b) const {
    r = g = b = 0;
    int count = 0;
    for (int row = y; row < y + h && row < height; ++row)
        for (int column = x; column < x + w && column < width; ++column, ++count) {
            const std::uint32_t pixel = At(column, row);
            r += (pixel >> 16) & 0xFF;
            g += (pixel >> 8) & 0xFF;
            b += pixel & 0xFF;
        }
    if (count > 0) {
        r /= count;
        g /= count;
        b /= count;
    }
}

std::optional<Picture> LoadPicture(const std::string& path) {
    const std::vector<char> bytes = ReadWholeFile(path);
    if (bytes.empty())
        return std::nullopt;
    Picture picture;
    picture.isJpeg = bytes.size() > 4 && static_cast<BYTE>(bytes[0]) == 0xFF &&
                     static_cast<BYTE>(bytes[1]) == 0xD8 && static_cast<BYTE>(bytes[2]) == 0xFF;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(Widen(path).c_str(), &bitmap) != Gdiplus::Ok)
        return std::nullopt;
    ImageOwner owner(bitmap);
    GUID format{};
    GdipGetImageRawFormat(bitmap, &format);
    picture.isJpeg = picture.isJpeg && format == Gdiplus::ImageFormatJPEG;
    UINT width = 0, height = 0;
    GdipGetImageWidth(bitmap, &width);
    GdipGetImageHeight(bitmap, &height);
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    Gdiplus::Rect rect(0, 0, picture.width, picture.height);
    Gdiplus::BitmapData data{};
    if (GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) !=
        Gdiplus::Ok)
        return std::nullopt;
    picture.argb.resize(static_cast<size_t>(width) * height);
    for (UINT row = 0; row < height; ++row)
        std::memcpy(&picture.argb[static_cast<size_t>(row) * width],
                    static_cast<BYTE*>(data.Scan0) + row * data.Stride, width * 4);
    GdipBitmapUnlockBits(bitmap, &data);
    return picture;
}

bool WriteFlatBitmap(const std::string& path, int width, int height, BYTE r, BYTE g, BYTE b) {
    const int rowBytes = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(rowBytes * height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<BYTE> pixels(info.biSizeImage, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            BYTE* pixel = &pixels[static_cast<size_t>(y) * rowBytes + x * 3];
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
        }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return out.good();
}

bool SaveScreenshot(HWND window, const std::string& pngPath) {
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (window && !::GetWindowRect(window, &area))
        return false;
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const bool copied =
        ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    bool saved = false;
    Gdiplus::GpBitmap* image = nullptr;
    CLSID png;
    if (copied && EncoderFor(L"image/png", png) &&
        GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
        ImageOwner owner(image);
        saved = GdipSaveImageToFile(image, Widen(pngPath).c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    ::DeleteObject(bitmap);
    return saved;
}

std::optional<std::string> ReadMirror() {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, "lumetramem");
    if (!mapping)
        return std::nullopt;
    std::optional<std::string> text;
    if (const auto* view = static_cast<const wchar_t*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8192))) {
        text = Narrow(std::wstring(view, ::wcsnlen(view, 4096)));
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
    return text;
}

std::vector<std::string> FilesIn(const std::string& directory, const std::string& wildcard) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((directory + "\\" + wildcard).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool MakeEmptyDirectory(const std::string& directory) {
    RemoveTree(directory);
    return ::CreateDirectoryA(directory.c_str(), nullptr) != FALSE;
}

LOGFONTA TextFont(int height) {
    LOGFONTA font{};
    font.lfHeight = -height;
    font.lfWeight = FW_BOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(font.lfFaceName, "Tahoma");
    return font;
}

} // namespace lumetra::e2e
