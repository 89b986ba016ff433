#include "imaging/ImageComposer.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "framework/Handles.h"
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

// The frame's rows as GDI+ takes them: the top row and the step to the next row down, negative for a
// bottom-up frame (a positive height).
struct FrameRows {
    BYTE* top = nullptr;
    int stride = 0;
    int count = 0;
};

Gdiplus::GpStatus LocateRows(const BYTE* pixels, int frameWidth, int frameHeight, FrameRows* rows) {
    const uint64_t rowBytes = (static_cast<uint64_t>(frameWidth) * 3 + 3) & ~uint64_t{3};
    if (rowBytes > INT_MAX)
        return Gdiplus::InvalidParameter;
    const int stride = static_cast<int>(rowBytes);
    rows->count = frameHeight < 0 ? -frameHeight : frameHeight;
    // GDI+ writes into a bitmap only when something draws on it, and nothing draws on the caller's frame.
    BYTE* first = const_cast<BYTE*>(pixels);
    rows->top = frameHeight < 0 ? first : first + static_cast<size_t>(rows->count - 1) * stride;
    rows->stride = frameHeight < 0 ? stride : -stride;
    return Gdiplus::Ok;
}

// A 24-bit bitmap that reads (and draws into) the rows in place, copying nothing.
Gdiplus::GpStatus CreateBitmapOver(const FrameRows& rows, int frameWidth, GpBitmapOwner* bitmap) {
    Gdiplus::GpBitmap* created = nullptr;
    const Gdiplus::GpStatus status = GdipCreateBitmapFromScan0(frameWidth, rows.count, rows.stride,
                                                               PixelFormat24bppRGB, rows.top, &created);
    if (status == Gdiplus::Ok)
        bitmap->reset(created);
    return status;
}

// Where the overlays are drawn, so that the caller's frame stays as it was: a copy of the frame in a
// top-down 24-bit DIB section, with a memory DC for it. Each composing thread keeps its own for the
// next frame of the same size, so composing costs no fresh memory. It holds GDI objects only, which
// outlive GDI+ and are released when the thread ends.
class OverlaySurface {
  public:
    // Holds a copy of the frame afterwards; false when GDI has no room for one.
    bool CopyFrom(const FrameRows& rows, int frameWidth) {
        if (!Fit(frameWidth, rows.count))
            return false;
        const size_t rowBytes = static_cast<size_t>(frameWidth) * 3;
        for (int row = 0; row < rows.count; ++row)
            std::memcpy(bits_ + static_cast<ptrdiff_t>(row) * stride_,
                        rows.top + static_cast<ptrdiff_t>(row) * rows.stride, rowBytes);
        return true;
    }
    FrameRows Rows() const { return {bits_, stride_, rows_}; }
    HDC Dc() const { return dc_.get(); }
    HBITMAP Dib() const { return dib_.get(); }

  private:
    bool Fit(int frameWidth, int rows) {
        if (dib_ && frameWidth == width_ && rows == rows_)
            return true;
        dib_.reset();
        bits_ = nullptr;
        width_ = rows_ = 0;
        if (!dc_)
            dc_.reset(::CreateCompatibleDC(nullptr));
        if (!dc_)
            return false;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = frameWidth;
        info.bmiHeader.biHeight = -rows;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!dib_ || !bits) {
            dib_.reset();
            return false;
        }
        bits_ = static_cast<BYTE*>(bits);
        width_ = frameWidth;
        rows_ = rows;
        stride_ = static_cast<int>((static_cast<uint64_t>(frameWidth) * 3 + 3) & ~uint64_t{3});
        return true;
    }

    UniqueMemoryDC dc_;
    UniqueBitmap dib_;
    BYTE* bits_ = nullptr;
    int width_ = 0;
    int rows_ = 0;
    int stride_ = 0;
};

// The text, then the watermark over it, into the surface that `bitmap` reads. The text is drawn
// through the surface's DC: Wine's GDI+ then draws it with GDI, as it did into the DIB-backed bitmap
// the frame used to be copied into, where drawn straight into memory its glyphs come out bolder.
void DrawOverlays(const OverlaySurface& surface, Gdiplus::GpBitmap* bitmap, const OverlaySettings& overlay) {
    if (overlay.text[0] != '\0') {
        SelectObjectScope selected(surface.Dc(), surface.Dib());
        Gdiplus::GpGraphics* created = nullptr;
        if (GdipCreateFromHDC(surface.Dc(), &created) == Gdiplus::Ok) {
            GpGraphicsOwner graphics(created);
            DrawTextOverlay(graphics.get(), bitmap, overlay);
        }
        // GDI may hold drawing back in a batch; the bitmap reads the same memory next.
        ::GdiFlush();
    }
    if (overlay.useWatermark == 1) {
        Gdiplus::GpGraphics* created = nullptr;
        if (GdipGetImageGraphicsContext(bitmap, &created) == Gdiplus::Ok) {
            GpGraphicsOwner graphics(created);
            DrawWatermark(graphics.get(), bitmap, overlay);
        }
    }
}

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
    const std::wstring widePath =
        targetPath ? AnsiToWide(targetPath, std::strlen(targetPath)) : std::wstring();
    if (widePath.empty())
        return Gdiplus::InvalidParameter;
    CLSID jpegEncoder;
    if (FindEncoderClsid(L"image/jpeg", &jpegEncoder) < 0)
        return Gdiplus::UnknownImageFormat;

    FrameRows rows;
    Gdiplus::GpStatus status = LocateRows(pixels, frameWidth, frameHeight, &rows);
    if (status != Gdiplus::Ok)
        return status;
    GpBitmapOwner bitmap;
    if (overlay.text[0] == '\0' && overlay.useWatermark != 1) {
        // Nothing to draw: the frame is encoded where it lies.
        status = CreateBitmapOver(rows, frameWidth, &bitmap);
        if (status != Gdiplus::Ok)
            return status;
    } else {
        thread_local OverlaySurface surface;
        if (!surface.CopyFrom(rows, frameWidth))
            return Gdiplus::OutOfMemory;
        status = CreateBitmapOver(surface.Rows(), frameWidth, &bitmap);
        if (status != Gdiplus::Ok)
            return status;
        DrawOverlays(surface, bitmap.get(), overlay);
    }

    ULONG quality = JpegQuality;
    Gdiplus::EncoderParameters parameters{};
    parameters.Count = 1;
    parameters.Parameter[0].Guid = QualityParameter;
    parameters.Parameter[0].NumberOfValues = 1;
    parameters.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    parameters.Parameter[0].Value = &quality;
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
