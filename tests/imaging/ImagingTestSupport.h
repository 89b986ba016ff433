#pragma once
// Frames, pictures and read-back JPEGs for the image composer's tests.

#include "Colours.h"
#include "TempFiles.h"
#include <windows.h>
#include <gdiplus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/OverlaySettings.h"

namespace lumetra::test {

// A bottom-up RGB24 frame with rows padded to 4 bytes, as the capture graph delivers it.
struct Frame {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    std::vector<BYTE> bytes;

    Frame(int frameWidth, int frameHeight, Rgb fill);
    // y counts from the top of the picture.
    void Set(int x, int y, Rgb colour);
    void FillRect(int left, int top, int width, int height, Rgb colour);
};

// A decoded image, 32-bit ARGB, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    Rgb At(int x, int y) const;
};

// A fresh folder under the temp folder, removed with its contents at the end of the run.
const std::string& ImagingFolder();
std::string TempPath(const std::string& name);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Reads an image file back with GDI+; an image of size 0 when it cannot be read.
Image ReadImage(const std::string& path);
// Writes a picture (a PNG unless another type is named) of the given size whose pixel (x, y) is
// colourAt(x, y), opaque.
void WritePicture(const std::string& path, int width, int height,
                  const std::function<Rgb(int, int)>& colourAt, const WCHAR* mimeType = L"image/png");

// Composes the frame into `path` and reads the result back.
Image ComposeAndRead(const Frame& frame, const OverlaySettings& overlay, const std::string& path);

// Settings for text in the given face, em size (points) and colour, at an offset.
OverlaySettings TextSettings(const char* text, const char* face, int emSize, COLORREF colour, int x, int y);

// Bounding box of the pixels for which `match` holds; empty (right < left) when there are none.
struct Box {
    int left = 0, top = 0, right = -1, bottom = -1;
    bool Empty() const { return right < left; }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
};
Box FindPixels(const Image& image, const std::function<bool(Rgb)>& match);
int CountPixels(const Image& image, const std::function<bool(Rgb)>& match);
bool IsRedInk(Rgb colour);

} // namespace lumetra::test
