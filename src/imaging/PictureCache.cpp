#include "imaging/PictureCache.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace lumetra {

using namespace Gdiplus::DllExports;

// A decoded bitmap's pixels, top row first, in its own format when GDI+ can draw from that as it
// would from the file's image, else in 32-bit ARGB (palettes expanded, transparency kept).
struct DecodedPixels {
    UINT width = 0;
    UINT height = 0;
    Gdiplus::PixelFormat format = PixelFormat32bppARGB;
    INT stride = 0;
    Gdiplus::REAL dpiX = 96.0f;
    Gdiplus::REAL dpiY = 96.0f;
    std::vector<BYTE> bytes;
};

namespace {

// A watermark is one picture per camera, and most cameras share one.
constexpr size_t MaxPictures = 4;
constexpr size_t MaxCachedBytes = size_t{64} << 20;

struct FileStamp {
    uint64_t size = 0;
    uint64_t lastWrite = 0;
    bool operator==(const FileStamp&) const = default;
};

bool ReadStamp(const std::wstring& widePath, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    stamp->lastWrite =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

class PictureCache {
  public:
    // The pixels kept for `path` when they were read from the file as it is now.
    std::shared_ptr<const DecodedPixels> Find(const std::string& path, const FileStamp& stamp) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
            if (entry->path != path)
                continue;
            if (entry->stamp != stamp) {
                entries_.erase(entry);
                return nullptr;
            }
            entry->lastUse = ++useCount_;
            return entry->pixels;
        }
        return nullptr;
    }

    void Keep(const std::string& path, const FileStamp& stamp, std::shared_ptr<const DecodedPixels> pixels) {
        const size_t bytes = pixels->bytes.size();
        std::lock_guard<std::mutex> lock(mutex_);
        ForgetLocked(path);
        if (bytes > MaxCachedBytes)
            return;
        size_t total = bytes;
        for (const Entry& entry : entries_)
            total += entry.pixels->bytes.size();
        while (!entries_.empty() && (entries_.size() >= MaxPictures || total > MaxCachedBytes)) {
            auto oldest = entries_.begin();
            for (auto entry = entries_.begin(); entry != entries_.end(); ++entry)
                if (entry->lastUse < oldest->lastUse)
                    oldest = entry;
            total -= oldest->pixels->bytes.size();
            entries_.erase(oldest);
        }
        entries_.push_back({path, stamp, std::move(pixels), ++useCount_});
    }

    void Forget(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        ForgetLocked(path);
    }

  private:
    struct Entry {
        std::string path;
        FileStamp stamp;
        std::shared_ptr<const DecodedPixels> pixels;
        uint64_t lastUse = 0;
    };

    void ForgetLocked(const std::string& path) {
        std::erase_if(entries_, [&](const Entry& entry) { return entry.path == path; });
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;
    uint64_t useCount_ = 0;
};

PictureCache& Cache() {
    static PictureCache cache;
    return cache;
}

// The pixels of a bitmap picture; nothing for a metafile or when memory runs out.
std::shared_ptr<const DecodedPixels> Decode(Gdiplus::GpImage* image) {
    Gdiplus::ImageType type = Gdiplus::ImageTypeUnknown;
    if (GdipGetImageType(image, &type) != Gdiplus::Ok || type != Gdiplus::ImageTypeBitmap)
        return nullptr;
    auto* bitmap = static_cast<Gdiplus::GpBitmap*>(image);
    UINT width = 0;
    UINT height = 0;
    Gdiplus::PixelFormat format = PixelFormat32bppARGB;
    if (GdipGetImageWidth(image, &width) != Gdiplus::Ok ||
        GdipGetImageHeight(image, &height) != Gdiplus::Ok ||
        GdipGetImagePixelFormat(image, &format) != Gdiplus::Ok || width == 0 || height == 0 ||
        width > INT32_MAX / 4 || height > INT32_MAX)
        return nullptr;
    if (format != PixelFormat24bppRGB && format != PixelFormat32bppRGB && format != PixelFormat32bppARGB &&
        format != PixelFormat32bppPARGB)
        format = PixelFormat32bppARGB;
    const size_t rowBytes = format == PixelFormat24bppRGB ? size_t{width} * 3 : size_t{width} * 4;
    const size_t stride = (rowBytes + 3) & ~size_t{3};

    std::shared_ptr<DecodedPixels> pixels;
    try {
        pixels = std::make_shared<DecodedPixels>();
        pixels->bytes.resize(stride * height);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    pixels->width = width;
    pixels->height = height;
    pixels->format = format;
    pixels->stride = static_cast<INT>(stride);
    GdipGetImageHorizontalResolution(image, &pixels->dpiX);
    GdipGetImageVerticalResolution(image, &pixels->dpiY);

    Gdiplus::Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData locked{};
    if (GdipBitmapLockBits(bitmap, &whole, Gdiplus::ImageLockModeRead, format, &locked) != Gdiplus::Ok)
        return nullptr;
    for (UINT row = 0; row < height; ++row)
        std::memcpy(pixels->bytes.data() + row * stride,
                    static_cast<const BYTE*>(locked.Scan0) + static_cast<ptrdiff_t>(row) * locked.Stride,
                    rowBytes);
    GdipBitmapUnlockBits(bitmap, &locked);
    return pixels;
}

// A bitmap that reads the kept pixels in place.
GpImageOwner BitmapOver(const DecodedPixels& pixels) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    // GDI+ only reads the pixels of a bitmap it draws from.
    if (GdipCreateBitmapFromScan0(static_cast<INT>(pixels.width), static_cast<INT>(pixels.height),
                                  pixels.stride, pixels.format, const_cast<BYTE*>(pixels.bytes.data()),
                                  &bitmap) != Gdiplus::Ok)
        return {};
    GdipBitmapSetResolution(bitmap, pixels.dpiX, pixels.dpiY);
    return GpImageOwner(bitmap);
}

} // namespace

LoadedPicture LoadPicture(const std::string& path) {
    LoadedPicture picture;
    const std::wstring widePath = AnsiToWide(path);
    if (widePath.empty())
        return picture;
    FileStamp stamp;
    if (!ReadStamp(widePath, &stamp)) {
        Cache().Forget(path);
        return picture;
    }
    std::shared_ptr<const DecodedPixels> pixels = Cache().Find(path, stamp);
    if (!pixels) {
        Gdiplus::GpImage* loaded = nullptr;
        if (GdipLoadImageFromFile(widePath.c_str(), &loaded) != Gdiplus::Ok)
            return picture;
        GpImageOwner fromFile(loaded);
        pixels = Decode(loaded);
        if (!pixels) {
            // A metafile, or no memory for a copy: drawn from the file's own image this time.
            GdipGetImageWidth(loaded, &picture.width);
            GdipGetImageHeight(loaded, &picture.height);
            picture.image = std::move(fromFile);
            return picture;
        }
        Cache().Keep(path, stamp, pixels);
    }
    picture.image = BitmapOver(*pixels);
    if (!picture.image)
        return {};
    picture.width = pixels->width;
    picture.height = pixels->height;
    picture.pixels = std::move(pixels);
    return picture;
}

} // namespace lumetra
