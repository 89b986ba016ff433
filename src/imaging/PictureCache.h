#pragma once
// Watermark pictures decoded once and kept while their file stays the same, so that saving an image
// every second does not decode the same file every second.

#include <windows.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "imaging/GdiplusObjects.h"

namespace lumetra {

struct DecodedPixels;

// A picture ready to draw. `image` may read memory that `pixels` keeps alive (declared first, so it
// goes last); `image` belongs to the caller alone, as GDI+ objects are not shared between threads.
struct LoadedPicture {
    std::shared_ptr<const DecodedPixels> pixels;
    GpImageOwner image;
    UINT width = 0;
    UINT height = 0;
};

// The picture file at `path` (ANSI). A decoded bitmap is kept in plain memory, not in GDI+, so the
// file is never held open and the memory outlives GDI+. It is used again while the file's path, size
// and last-write time are unchanged; a changed, replaced or removed file is read again. At most a
// few pictures and a bounded number of bytes are kept, the least recently used going first.
// Safe to call from several threads at once. An empty picture when the file cannot be read.
LoadedPicture LoadPicture(const std::string& path);

} // namespace lumetra
