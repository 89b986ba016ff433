#pragma once
// Owners for GDI+ flat-API objects, so every path of the composer releases what it made.

#include <windows.h>
#include <gdiplus.h>

#include "framework/AnsiText.h"

#include <memory>
#include <string>

namespace lumetra {

namespace gdiplus_detail {
template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Destroy)(T*)> struct Deleter {
    void operator()(T* object) const { Destroy(object); }
};
} // namespace gdiplus_detail

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Destroy)(T*)>
using GdiplusOwner = std::unique_ptr<T, gdiplus_detail::Deleter<T, Destroy>>;

// Images are disposed through their base type; the deleter takes the derived pointer.
inline Gdiplus::GpStatus WINGDIPAPI DisposeBitmap(Gdiplus::GpBitmap* bitmap) {
    return Gdiplus::DllExports::GdipDisposeImage(bitmap);
}
inline Gdiplus::GpStatus WINGDIPAPI DeleteBrushOf(Gdiplus::GpSolidFill* brush) {
    return Gdiplus::DllExports::GdipDeleteBrush(brush);
}
inline Gdiplus::GpStatus WINGDIPAPI DeleteTextureBrush(Gdiplus::GpTexture* brush) {
    return Gdiplus::DllExports::GdipDeleteBrush(brush);
}

using GpImageOwner = GdiplusOwner<Gdiplus::GpImage, Gdiplus::DllExports::GdipDisposeImage>;
using GpBitmapOwner = GdiplusOwner<Gdiplus::GpBitmap, DisposeBitmap>;
using GpGraphicsOwner = GdiplusOwner<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>;
using GpFontFamilyOwner = GdiplusOwner<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>;
using GpFontOwner = GdiplusOwner<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>;
using GpSolidFillOwner = GdiplusOwner<Gdiplus::GpSolidFill, DeleteBrushOf>;
using GpTextureOwner = GdiplusOwner<Gdiplus::GpTexture, DeleteTextureBrush>;
using GpStringFormatOwner =
    GdiplusOwner<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>;
using GpImageAttributesOwner =
    GdiplusOwner<Gdiplus::GpImageAttributes, Gdiplus::DllExports::GdipDisposeImageAttributes>;
using GpMatrixOwner = GdiplusOwner<Gdiplus::GpMatrix, Gdiplus::DllExports::GdipDeleteMatrix>;

} // namespace lumetra
