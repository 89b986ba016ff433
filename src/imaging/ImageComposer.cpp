#include "imaging/ImageComposer.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "imaging/GdiplusObjects.h"
#include "imaging/TextOverlay.h"
#include "imaging/Watermark.h"

namespace lumetra {

using namespace Gdiplus::DllExports;

namespace {

// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}; defined here because MinGW only declares it.
constexpr GUID QualityParameter = {
    0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
constexpr ULONG JpegQuality = 100;

} // namespace

int FindEncoderClsid(const WCHAR* mimeType, CLSID* clsid) {
    if (!mimeType || !clsid)
        return -1;
    UINT encoderCount = 0;
    UINT arrayBytes = 0;
    if (GdipGetImageEncodersSize(&encoderCount, &arrayBytes) != Gdiplus::Ok || arrayBytes == 0)
        return -1;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[arrayBytes]);
    if (!block)
        return -1;
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(block.get());
    if (GdipGetImageEncoders(encoderCount, arrayBytes, encoders) != Gdiplus::Ok)
        return -1;
    for (UINT index = 0; index < encoderCount; ++index) {
        if (encoders[index].MimeType && std::wcscmp(encoders[index].MimeType, mimeType) == 0) {
            *clsid = encoders[index].Clsid;
            return static_cast<int>(index);
        }
    }
    return -1;
}

uint64_t Rgb24FrameBytes(int frameWidth, int frameHeight) {
    // A negative height is a top-down frame of that many rows.
    const int64_t rows = frameHeight < 0 ? -static_cast<int64_t>(frameHeight) : frameHeight;
    if (frameWidth <= 0 || rows == 0)
        return 0;
    const uint64_t stride = (static_cast<uint64_t>(frameWidth) * 3 + 3) & ~uint64_t{3};
    return stride * static_cast<uint64_t>(rows);
}

int ComposeAndSaveFrame(double /*sampleTime*/, const BYTE* pixels, uint32_t byteCount, int frameWidth,
                        int frameHeight, const char* targetPath, const OverlaySettings& overlay) {
    if (!pixels)
        return Gdiplus::InvalidParameter;
    // A frame shorter than its recorded size would have GDI+ read past the buffer.
    const uint64_t frameBytes = Rgb24FrameBytes(frameWidth, frameHeight);
    if (frameBytes == 0 || byteCount < frameBytes)
        return Gdiplus::InvalidParameter;

    // Header and pixels in one block; the bitmap refers to the pixels until it is disposed.
    const size_t blockBytes = sizeof(BITMAPINFOHEADER) + static_cast<size_t>(frameBytes);
    std::unique_ptr<BYTE[]> dibBlock(new (std::nothrow) BYTE[blockBytes]);
    if (!dibBlock)
        return Gdiplus::OutOfMemory;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = frameWidth;
    header.biHeight = frameHeight; // positive: rows bottom-up; negative: top-down
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::memcpy(dibBlock.get(), &header, sizeof header);
    BYTE* dibPixels = dibBlock.get() + sizeof(BITMAPINFOHEADER);
    std::memcpy(dibPixels, pixels, static_cast<size_t>(frameBytes));

    GpBitmapOwner bitmap;
    {
        Gdiplus::GpBitmap* created = nullptr;
        const Gdiplus::GpStatus status = GdipCreateBitmapFromGdiDib(
            reinterpret_cast<const BITMAPINFO*>(dibBlock.get()), dibPixels, &created);
        if (status != Gdiplus::Ok)
            return status;
        bitmap.reset(created);
    }
    {
        GpGraphicsOwner graphics;
        Gdiplus::GpGraphics* created = nullptr;
        if (GdipGetImageGraphicsContext(bitmap.get(), &created) == Gdiplus::Ok) {
            graphics.reset(created);
            DrawTextOverlay(graphics.get(), bitmap.get(), overlay);
            DrawWatermark(graphics.get(), bitmap.get(), overlay);
        }
    } // drawing is flushed into the bitmap when its graphics goes

    CLSID jpegEncoder;
    if (FindEncoderClsid(L"image/jpeg", &jpegEncoder) < 0)
        return Gdiplus::UnknownImageFormat;

    ULONG quality = JpegQuality;
    Gdiplus::EncoderParameters parameters{};
    parameters.Count = 1;
    parameters.Parameter[0].Guid = QualityParameter;
    parameters.Parameter[0].NumberOfValues = 1;
    parameters.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    parameters.Parameter[0].Value = &quality;

    const std::wstring widePath =
        targetPath ? AnsiToWide(targetPath, std::strlen(targetPath)) : std::wstring();
    if (widePath.empty())
        return Gdiplus::InvalidParameter;
    return GdipSaveImageToFile(bitmap.get(), widePath.c_str(), &jpegEncoder, &parameters);
}

std::string SaveStatusText(int status) {
    switch (status) {
    case Gdiplus::Ok:
        return "written";
    case Gdiplus::InvalidParameter:
        return "the frame or the path is not usable";
    case Gdiplus::OutOfMemory:
        return "out of memory";
    case Gdiplus::UnknownImageFormat:
        return "no JPEG encoder is installed";
    case Gdiplus::GenericError:
    case Gdiplus::Win32Error:
        return "the file could not be written (missing folder, full disk or locked file)";
    default:
        return "GDI+ status " + std::to_string(status);
    }
}

} // namespace lumetra
