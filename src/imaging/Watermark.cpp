#include "imaging/Watermark.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "imaging/GdiplusObjects.h"
#include "imaging/PictureCache.h"

namespace lumetra {

using namespace Gdiplus::DllExports;

namespace {

// The polygon dialog offers 3 to 21 sides; a stored count beyond this is corrupt and draws nothing.
constexpr int MaxPolygonSides = 4096;
// One turn as the polygon has always been laid out with (slightly short of 2 pi).
constexpr double FullTurn = 6.283185306;

GpImageAttributesOwner CreateColourKey(const OverlaySettings& overlay) {
    Gdiplus::GpImageAttributes* attributes = nullptr;
    if (GdipCreateImageAttributes(&attributes) != Gdiplus::Ok)
        return {};
    GpImageAttributesOwner owner(attributes);
    const Gdiplus::ARGB low =
        Gdiplus::Color::MakeARGB(255, overlay.lowRed, overlay.lowGreen, overlay.lowBlue);
    const Gdiplus::ARGB high =
        Gdiplus::Color::MakeARGB(255, overlay.highRed, overlay.highGreen, overlay.highBlue);
    if (GdipSetImageAttributesColorKeys(attributes, Gdiplus::ColorAdjustTypeBitmap, TRUE, low, high) !=
        Gdiplus::Ok)
        return {};
    return owner;
}

bool HasDesiredSize(const OverlaySettings& overlay) {
    return overlay.watermarkWidth != 0 && overlay.watermarkHeight != 0;
}

void DrawPlain(Gdiplus::GpGraphics* graphics, const LoadedPicture& picture,
               Gdiplus::GpImageAttributes* colourKey, const OverlaySettings& overlay) {
    // The destination's width and height are counted from the frame's corner, not from the offset.
    const int64_t width =
        int64_t{overlay.watermarkX} +
        (HasDesiredSize(overlay) ? int64_t{overlay.watermarkWidth} : int64_t{picture.width});
    const int64_t height =
        int64_t{overlay.watermarkY} +
        (HasDesiredSize(overlay) ? int64_t{overlay.watermarkHeight} : int64_t{picture.height});
    if (width < INT_MIN || width > INT_MAX || height < INT_MIN || height > INT_MAX)
        return;
    GdipDrawImageRectRectI(graphics, picture.image.get(), overlay.watermarkX, overlay.watermarkY,
                           static_cast<INT>(width), static_cast<INT>(height), 0, 0,
                           static_cast<INT>(picture.width), static_cast<INT>(picture.height),
                           Gdiplus::UnitPixel, colourKey, nullptr, nullptr);
}

// A regular polygon whose radius is half the average of the watermark's width and height, filled
// with the picture tiled from the frame's corner.
void DrawPolygon(Gdiplus::GpGraphics* graphics, const LoadedPicture& picture,
                 Gdiplus::GpImageAttributes* colourKey, const OverlaySettings& overlay) {
    const int sides = overlay.polygonSides;
    if (sides < 3 || sides > MaxPolygonSides)
        return;
    std::unique_ptr<Gdiplus::PointF[]> vertices(new (std::nothrow) Gdiplus::PointF[sides]);
    if (!vertices)
        return;
    const double step = FullTurn / sides;
    const double sizeBase = HasDesiredSize(overlay)
                                ? static_cast<double>(overlay.watermarkWidth) + overlay.watermarkHeight
                                : static_cast<double>(picture.width) + picture.height;
    const double radius = sizeBase * 0.25;
    for (int k = 0; k < sides; ++k) {
        const double angle = k * step;
        vertices[k].X = static_cast<float>(radius * std::cos(angle) + overlay.watermarkX + radius);
        vertices[k].Y = static_cast<float>(radius * std::sin(angle) + overlay.watermarkY + radius);
    }

    GpTextureOwner brush;
    Gdiplus::GpTexture* created = nullptr;
    if (colourKey) {
        if (GdipCreateTextureIAI(picture.image.get(), colourKey, 0, 0, static_cast<INT>(picture.width),
                                 static_cast<INT>(picture.height), &created) != Gdiplus::Ok)
            return;
        brush.reset(created);
        GdipSetTextureWrapMode(brush.get(), Gdiplus::WrapModeTile);
    } else {
        if (GdipCreateTexture(picture.image.get(), Gdiplus::WrapModeTile, &created) != Gdiplus::Ok)
            return;
        brush.reset(created);
    }

    if (HasDesiredSize(overlay)) {
        Gdiplus::GpMatrix* matrix = nullptr;
        if (GdipCreateMatrix(&matrix) != Gdiplus::Ok)
            return;
        GpMatrixOwner scale(matrix);
        GdipScaleMatrix(matrix,
                        static_cast<float>(static_cast<double>(overlay.watermarkWidth) / picture.width),
                        static_cast<float>(static_cast<double>(overlay.watermarkHeight) / picture.height),
                        Gdiplus::MatrixOrderPrepend);
        GdipSetTextureTransform(brush.get(), matrix);
    }
    GdipFillPolygon(graphics, brush.get(), vertices.get(), sides, Gdiplus::FillModeAlternate);
}

} // namespace

void DrawWatermark(Gdiplus::GpGraphics* graphics, Gdiplus::GpBitmap* /*frame*/,
                   const OverlaySettings& overlay) {
    if (overlay.useWatermark != 1 || !graphics)
        return;
    const LoadedPicture picture = LoadPicture(overlay.watermarkPath);
    if (!picture.image || picture.width == 0 || picture.height == 0)
        return;
    GpImageAttributesOwner colourKey;
    if (overlay.useTransparent) {
        colourKey = CreateColourKey(overlay);
        if (!colourKey)
            return;
    }
    if (overlay.polygonWatermark)
        DrawPolygon(graphics, picture, colourKey.get(), overlay);
    else
        DrawPlain(graphics, picture, colourKey.get(), overlay);
}

} // namespace lumetra
