#pragma once
// Motion in a camera's frames: each frame is reduced to a small grey picture and compared with a
// background that follows the scene slowly, so a person walking through counts and dusk does not.

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumetra {

class MotionDetector {
  public:
    static constexpr int ThumbnailWidth = 160;
    static constexpr int ThumbnailHeight = 120;
    // The background moves an eighth of the way toward each measured frame: a thing that stops
    // moving (a parked car) stops counting after about 10 frames, and light that changes over seconds
    // stays close behind.
    static constexpr int BackgroundFollowShift = 3;
    // Differences from -255 to 255, in bands of background brightness 32 levels wide.
    static constexpr int DifferenceLevels = 511;
    static constexpr int BrightnessBands = 8;

    // The share (0 to 1) of the picture whose grey level differs from the background's by more than
    // pixelThreshold once the light's part is taken out (the median difference among pixels of like
    // background brightness); then the background moves toward this frame. `pixels` is a 24-bit RGB
    // frame of width x |height| with rows padded to 4 bytes, in either row order. The first frame,
    // after Reset or in another size, only becomes the background: 0. A frame shorter than its
    // size: 0, and nothing changes.
    double Measure(const BYTE* pixels, size_t byteCount, int width, int height, int pixelThreshold);
    // The next frame starts a new background.
    void Reset() { hasBackground_ = false; }

  private:
    void Prepare(int width, int rows);
    void ReduceToGrey(const BYTE* pixels);

    int width_ = 0;
    int rows_ = 0;
    size_t stride_ = 0;
    bool hasBackground_ = false;
    // Per thumbnail column and row, the source byte offsets and rows sampled.
    std::vector<std::uint32_t> columnOffsets_;
    std::vector<std::uint32_t> sampleRows_;
    std::vector<std::uint32_t> rowSums_;
    std::vector<std::uint8_t> grey_;
    std::vector<std::int16_t> difference_;
    std::vector<std::uint8_t> band_;        // brightness band of each background pixel
    std::vector<std::uint16_t> background_; // grey levels in 1/256
    std::array<std::array<int, DifferenceLevels>, BrightnessBands> histograms_{};
};

} // namespace lumetra
