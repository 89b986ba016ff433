#include "dialogs/imageview.h"

#include "framework/AnsiText.h"
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
    HWND window = GetSafeHwnd();
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (Gdiplus::DllExports::GdipCreateFromHDC(dc, &graphics) == Gdiplus::Ok) {
        // The path is ANSI; convert through the code page so every path the program saved loads.
        const std::wstring widePath = AnsiToWide(imagePath);
        Gdiplus::GpImage* image = nullptr;
        if (!imagePath.empty() &&
            Gdiplus::DllExports::GdipLoadImageFromFile(widePath.c_str(), &image) == Gdiplus::Ok) {
            UINT width = 0, height = 0;
            Gdiplus::DllExports::GdipGetImageWidth(image, &width);
            Gdiplus::DllExports::GdipGetImageHeight(image, &height);
            Gdiplus::DllExports::GdipDrawImageRectI(graphics, image, 0, 0, static_cast<INT>(width),
                                                    static_cast<INT>(height));
            Gdiplus::DllExports::GdipDisposeImage(image);
        }
        Gdiplus::DllExports::GdipDeleteGraphics(graphics);
    }
    ::EndPaint(window, &paint);
}

bool imageview::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) {
    if (message != WM_PAINT)
        return false;
    Paint();
    return true;
}

} // namespace lumetra
