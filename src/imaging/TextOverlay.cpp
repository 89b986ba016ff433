#include "imaging/TextOverlay.h"

#include <cmath>
#include <cstring>
#include <string>

#include "imaging/GdiplusObjects.h"

namespace lumetra {

using namespace Gdiplus::DllExports;

namespace {

int FontStyleOf(const LOGFONTA& font) {
    int style = Gdiplus::FontStyleRegular;
    if (font.lfItalic)
        style |= Gdiplus::FontStyleItalic;
    if (font.lfUnderline)
        style |= Gdiplus::FontStyleUnderline;
    if (font.lfWeight >= FW_BOLD)
        style |= Gdiplus::FontStyleBold;
    if (font.lfStrikeOut)
        style |= Gdiplus::FontStyleStrikeout;
    return style;
}

GpFontFamilyOwner SansSerifFamily() {
    Gdiplus::GpFontFamily* family = nullptr;
    if (GdipGetGenericFontFamilySansSerif(&family) != Gdiplus::Ok)
        return {};
    return GpFontFamilyOwner(family);
}

GpFontOwner CreateFontFrom(Gdiplus::GpFontFamily* family, float emSize, int style) {
    Gdiplus::GpFont* font = nullptr;
    if (!family || GdipCreateFont(family, emSize, style, Gdiplus::UnitPoint, &font) != Gdiplus::Ok)
        return {};
    return GpFontOwner(font);
}

// The size in points of text typed before any font was chosen.
constexpr float UnchosenFontEmSize = 12.0f;

bool IsUnchosenFont(const LOGFONTA& logFont) {
    static const LOGFONTA unchosen{};
    return std::memcmp(&logFont, &unchosen, sizeof logFont) == 0;
}

// The chosen face, or the generic sans-serif family when that face is not installed. With no font
// ever chosen (an all-zero LOGFONT) the text comes in the generic sans-serif family at 12 points.
GpFontOwner CreateOverlayFont(const LOGFONTA& logFont) {
    if (IsUnchosenFont(logFont)) {
        GpFontFamilyOwner family = SansSerifFamily();
        return CreateFontFrom(family.get(), UnchosenFontEmSize, Gdiplus::FontStyleRegular);
    }
    // GDI+ has no font of em size 0: a chosen font of height 0 draws no text.
    const float emSize = std::fabs(static_cast<float>(logFont.lfHeight));
    if (!(emSize > 0.0f))
        return {};
    const int style = FontStyleOf(logFont);
    const std::wstring faceName = AnsiToWide(logFont.lfFaceName, ::strnlen(logFont.lfFaceName, LF_FACESIZE));

    GpFontFamilyOwner family;
    bool namedFamily = false;
    if (!faceName.empty()) {
        Gdiplus::GpFontFamily* named = nullptr;
        if (GdipCreateFontFamilyFromName(faceName.c_str(), nullptr, &named) == Gdiplus::Ok) {
            family.reset(named);
            namedFamily = true;
        }
    }
    if (!family)
        family = SansSerifFamily();
    GpFontOwner font = CreateFontFrom(family.get(), emSize, style);
    if (!font && namedFamily) {
        GpFontFamilyOwner fallback = SansSerifFamily();
        font = CreateFontFrom(fallback.get(), emSize, style);
    }
    return font;
}

// Lines from the edit control end in CR LF. GDI+ breaks the line at the LF alone just the same, and
// Wine's GDI+ draws the CR as a missing-glyph box, so the CR of each pair is dropped.
std::wstring WithoutCarriageReturns(const std::wstring& text) {
    std::wstring lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
            continue;
        lines += text[i];
    }
    return lines;
}

} // namespace

void DrawTextOverlay(Gdiplus::GpGraphics* graphics, Gdiplus::GpBitmap* frame,
                     const OverlaySettings& overlay) {
    const size_t textLength = ::strnlen(overlay.text, OverlayTextCapacity - 1);
    if (!graphics || textLength == 0)
        return;

    GpFontOwner font = CreateOverlayFont(overlay.textFont);
    if (!font)
        return;

    const Gdiplus::ARGB colour =
        0xFF000000u | (static_cast<Gdiplus::ARGB>(GetRValue(overlay.fontColour)) << 16) |
        (static_cast<Gdiplus::ARGB>(GetGValue(overlay.fontColour)) << 8) | GetBValue(overlay.fontColour);
    GpSolidFillOwner brush;
    {
        Gdiplus::GpSolidFill* created = nullptr;
        if (GdipCreateSolidFill(colour, &created) != Gdiplus::Ok)
            return;
        brush.reset(created);
    }

    const std::wstring text = WithoutCarriageReturns(AnsiToWide(overlay.text, textLength));
    if (text.empty())
        return;

    const float x = static_cast<float>(overlay.textX);
    const float y = static_cast<float>(overlay.textY);
    // An empty rectangle at the origin: the text is laid out without wrapping.
    Gdiplus::RectF layout(x, y, 0.0f, 0.0f);
    int formatFlags = 0;
    if (overlay.wrapInBox) {
        if (overlay.boxWidth != 0 && overlay.boxDepth != 0) {
            // The box's width and height are counted from the frame's corner, not from the offset.
            layout.Width = x + static_cast<float>(overlay.boxWidth);
            layout.Height = y + static_cast<float>(overlay.boxDepth);
        } else {
            UINT frameWidth = 0;
            UINT frameHeight = 0;
            GdipGetImageWidth(frame, &frameWidth);
            GdipGetImageHeight(frame, &frameHeight);
            layout.Width = static_cast<float>(frameWidth);
            layout.Height = static_cast<float>(frameHeight);
        }
        formatFlags |= Gdiplus::StringFormatFlagsNoFitBlackBox;
    }
    if (overlay.verticalText)
        formatFlags |= Gdiplus::StringFormatFlagsDirectionVertical;

    GpStringFormatOwner format;
    if (formatFlags != 0) {
        Gdiplus::GpStringFormat* created = nullptr;
        if (GdipCreateStringFormat(formatFlags, LANG_NEUTRAL, &created) != Gdiplus::Ok)
            return;
        format.reset(created);
    }
    GdipDrawString(graphics, text.c_str(), static_cast<INT>(text.size()), font.get(), &layout, format.get(),
                   brush.get());
}

} // namespace lumetra
