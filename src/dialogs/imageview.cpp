#include "dialogs/imageview.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"
#include "resources/resource.h"

#include <gdiplus.h>

namespace lumetra {

imageview::imageview() : Dialog(IDD_IMAGE_VIEW) {
    Create(nullptr);
}

imageview::~imageview() {
    if (destroyed_)
        destroyed_();
}

void imageview::SetImagePath(const std::string& path) {
    imagePath = path;
    if (GetSafeHwnd())
        ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

// Enter closes the viewer like Cancel: a hidden viewer could never be shown again.
void imageview::OnOK() {
    DestroyWindow();
}

void imageview::OnCancel() {
    DestroyWindow();
}

void imageview::Paint() {
    const PaintDC paint(GetSafeHwnd());
    Gdiplus::Graphics graphics(paint.get());
    if (graphics.GetLastStatus() != Gdiplus::Ok || imagePath.empty())
        return;
    // The path is ANSI; convert through the code page so every path the program saved loads.
    Gdiplus::Image image(AnsiToWide(imagePath).c_str());
    if (image.GetLastStatus() != Gdiplus::Ok)
        return;
    graphics.DrawImage(&image, 0, 0, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()));
}

bool imageview::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) {
    if (message != WM_PAINT)
        return false;
    Paint();
    return true;
}

} // namespace lumetra
