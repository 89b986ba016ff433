#include "settings/MotionLevelBar.h"

#include "framework/Handles.h"

#include <algorithm>
#include <cstdio>

namespace lumetra {

namespace {
constexpr COLORREF QuietFill = RGB(130, 205, 130);
constexpr COLORREF MotionFill = RGB(235, 120, 110);
constexpr COLORREF Mark = RGB(0, 0, 0);

void Fill(HDC dc, RECT area, COLORREF colour) {
    UniqueBrush brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &area, brush.get());
}
} // namespace

std::string MotionLevelText(std::optional<double> changedShare, double savingShare) {
    if (!changedShare)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %% changed, saves above %.1f %%", *changedShare * 100,
                  savingShare * 100);
    return text;
}

void DrawMotionLevel(const DRAWITEMSTRUCT& item, std::optional<double> changedShare, double savingShare) {
    HDC dc = item.hDC;
    RECT bar = item.rcItem;
    Fill(dc, bar, ::GetSysColor(COLOR_WINDOW));
    if (changedShare && savingShare > 0) {
        const int width = bar.right - bar.left;
        // The whole bar is twice the saving share, so the mark sits in the middle.
        const double filled = std::clamp(*changedShare / (2 * savingShare), 0.0, 1.0);
        RECT level = bar;
        level.right = bar.left + static_cast<LONG>(filled * width + 0.5);
        Fill(dc, level, *changedShare > savingShare ? MotionFill : QuietFill);
        // The mark as a tick at the top and at the bottom, clear of the text.
        const int tick = std::max<LONG>(2, (bar.bottom - bar.top) / 4);
        RECT mark{bar.left + width / 2, bar.top, bar.left + width / 2 + 1, bar.top + tick};
        Fill(dc, mark, Mark);
        mark.top = bar.bottom - tick;
        mark.bottom = bar.bottom;
        Fill(dc, mark, Mark);
        const std::string text = MotionLevelText(changedShare, savingShare);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::DrawTextA(dc, text.c_str(), -1, &bar, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    UniqueBrush frame(::CreateSolidBrush(::GetSysColor(COLOR_WINDOWFRAME)));
    ::FrameRect(dc, &bar, frame.get());
}

} // namespace lumetra
