#pragma once
// A camera's picture size: what its capture pin offers, how a camera's setting writes it
// ("1280x720") and how the drop-down shows it ("1280 x 720 (30 fps)").

#include <optional>
#include <string>

namespace lumetra {

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// One size the device offers, with the highest frame rate of any of its formats at that size
// (0 when the device names none).
struct OfferedPictureSize {
    PictureSize size;
    int maxFramesPerSecond = 0;
};

// "1280x720"; empty for none (the camera's default).
std::string PictureSizeText(const std::optional<PictureSize>& size);
// The size of a text PictureSizeText wrote; none for an empty text and for anything else.
std::optional<PictureSize> ParsePictureSize(const std::string& text);
// "1280 x 720 (30 fps)", as the drop-down lists it.
std::string OfferedSizeLabel(const OfferedPictureSize& offered);

} // namespace lumetra
