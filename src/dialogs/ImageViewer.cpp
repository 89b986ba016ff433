#include "dialogs/ImageViewer.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"
#include "resources/resource.h"

#include <gdiplus.h>

namespace lumetra {

ImageViewer::ImageViewer() : Dialog(IDD_IMAGE_VIEW) {
    Create(nullptr);
}

ImageViewer::~ImageViewer() {
    if (destroyed_)
        destroyed_();
}

void ImageViewer::SetImagePath(const std::string& path) {
    imagePath = path;
    if (GetSafeHwnd())
        ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

// Enter closes the viewer like Cancel: a hidden viewer could never be shown again.
void ImageViewer::OnOK() {
    DestroyWindow();
}

void ImageViewer::OnCancel() {
    DestroyWindow();
}

void ImageViewer::Paint() {
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

bool ImageViewer::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) {
    if (message != WM_PAINT)
        return false;
    Paint();
    return true;
}

} // namespace lumetra
