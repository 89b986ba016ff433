#include "capture/PictureSize.h"

#include <charconv>

namespace lumetra {

namespace {
// Larger than any camera's side; keeps a hand-edited value from overflowing the arithmetic after it.
constexpr int MaxSide = 65535;

// Digits only, within 1..MaxSide.
std::optional<int> ParseSide(const char* first, const char* last) {
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || *first < '0' || *first > '9' || error != std::errc() || end != last || value < 1 ||
        value > MaxSide)
        return std::nullopt;
    return value;
}
} // namespace

std::string PictureSizeText(const std::optional<PictureSize>& size) {
    if (!size)
        return {};
    return std::to_string(size->width) + "x" + std::to_string(size->height);
}

std::optional<PictureSize> ParsePictureSize(const std::string& text) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos)
        return std::nullopt;
    const char* begin = text.data();
    const auto width = ParseSide(begin, begin + cross);
    const auto height = ParseSide(begin + cross + 1, begin + text.size());
    if (!width || !height)
        return std::nullopt;
    return PictureSize{*width, *height};
}

std::string OfferedSizeLabel(const OfferedPictureSize& offered) {
    std::string label = std::to_string(offered.size.width) + " x " + std::to_string(offered.size.height);
    if (offered.maxFramesPerSecond > 0)
        label += " (" + std::to_string(offered.maxFramesPerSecond) + " fps)";
    return label;
}

} // namespace lumetra
