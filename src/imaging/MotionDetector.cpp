#include "imaging/MotionDetector.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace lumetra {

namespace {
// Each thumbnail pixel is the mean of 2 x 2 samples spread over its cell: enough to smooth a
// camera's noise, and the same work for every frame size.
constexpr int SamplesPerSide = 2;
constexpr int SampleShift = 2; // log2 of SamplesPerSide * SamplesPerSide
constexpr int ThumbnailPixels = MotionDetector::ThumbnailWidth * MotionDetector::ThumbnailHeight;
// A brightness band with fewer pixels than this (1 %) takes the whole picture's light change.
constexpr int MinBandPixels = ThumbnailPixels / 100;

// Sample positions of `cells` cells over `length` source pixels, SamplesPerSide per cell, evenly
// spread inside each cell (cells repeat pixels when the source is smaller than the thumbnail).
std::vector<std::uint32_t> SamplePositions(int cells, int length) {
    std::vector<std::uint32_t> positions;
    positions.reserve(static_cast<size_t>(cells) * SamplesPerSide);
    for (int cell = 0; cell < cells; ++cell) {
        const int first = static_cast<int>(static_cast<long long>(cell) * length / cells);
        const int end =
            std::max(first + 1, static_cast<int>(static_cast<long long>(cell + 1) * length / cells));
        for (int sample = 0; sample < SamplesPerSide; ++sample) {
            const int position = first + (2 * sample + 1) * (end - first) / (2 * SamplesPerSide);
            positions.push_back(static_cast<std::uint32_t>(std::min(position, length - 1)));
        }
    }
    return positions;
}

int Median(const std::array<int, MotionDetector::DifferenceLevels>& histogram, int count) {
    int seen = 0;
    for (int level = 0; level < MotionDetector::DifferenceLevels; ++level) {
        seen += histogram[level];
        if (seen * 2 >= count)
            return level - 255;
    }
    return 0;
}

// Grey level times 256 (ITU-R BT.601 weights) of one B, G, R pixel.
inline std::uint32_t Grey256(const BYTE* pixel) {
    return 29u * pixel[0] + 150u * pixel[1] + 77u * pixel[2];
}
} // namespace

void MotionDetector::Prepare(int width, int rows) {
    if (width == width_ && rows == rows_)
        return;
    width_ = width;
    rows_ = rows;
    stride_ = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    columnOffsets_ = SamplePositions(ThumbnailWidth, width);
    for (std::uint32_t& offset : columnOffsets_)
        offset *= 3;
    sampleRows_ = SamplePositions(ThumbnailHeight, rows);
    rowSums_.assign(ThumbnailWidth, 0);
    grey_.assign(ThumbnailPixels, 0);
    difference_.assign(ThumbnailPixels, 0);
    band_.assign(ThumbnailPixels, 0);
    background_.assign(ThumbnailPixels, 0);
    hasBackground_ = false;
}

void MotionDetector::ReduceToGrey(const BYTE* pixels) {
    for (int thumbRow = 0; thumbRow < ThumbnailHeight; ++thumbRow) {
        std::fill(rowSums_.begin(), rowSums_.end(), 0u);
        for (int sample = 0; sample < SamplesPerSide; ++sample) {
            const BYTE* row = pixels + sampleRows_[thumbRow * SamplesPerSide + sample] * stride_;
            const std::uint32_t* offsets = columnOffsets_.data();
            for (int column = 0; column < ThumbnailWidth; ++column, offsets += SamplesPerSide)
                rowSums_[column] += Grey256(row + offsets[0]) + Grey256(row + offsets[1]);
        }
        std::uint8_t* grey = grey_.data() + thumbRow * ThumbnailWidth;
        for (int column = 0; column < ThumbnailWidth; ++column)
            grey[column] = static_cast<std::uint8_t>(rowSums_[column] >> (8 + SampleShift));
    }
}

double MotionDetector::Measure(const BYTE* pixels, size_t byteCount, int width, int height,
                               int pixelThreshold) {
    const int rows = std::abs(height);
    if (!pixels || width <= 0 || rows == 0)
        return 0.0;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    if (byteCount < stride * rows)
        return 0.0;
    Prepare(width, rows);
    ReduceToGrey(pixels);
    if (!hasBackground_) {
        for (int i = 0; i < ThumbnailPixels; ++i)
            background_[i] = static_cast<std::uint16_t>(grey_[i] << 8);
        hasBackground_ = true;
        return 0.0;
    }

    // Light that changes (dusk, clouds, a camera's exposure) moves the grey levels of all pixels of
    // one brightness alike, a moving thing only those it covers: within each band of background
    // brightness the median difference is the light's part and is taken out.
    for (auto& histogram : histograms_)
        histogram.fill(0);
    for (int i = 0; i < ThumbnailPixels; ++i) {
        const int background = background_[i];
        const int difference = grey_[i] - ((background + 128) >> 8);
        difference_[i] = static_cast<std::int16_t>(difference);
        band_[i] = static_cast<std::uint8_t>(background >> 13); // 32 levels a band
        ++histograms_[band_[i]][difference + 255];
    }
    std::array<int, DifferenceLevels> all{};
    std::array<int, BrightnessBands> counts{};
    for (int band = 0; band < BrightnessBands; ++band)
        for (int level = 0; level < DifferenceLevels; ++level) {
            all[level] += histograms_[band][level];
            counts[band] += histograms_[band][level];
        }
    const int overall = Median(all, ThumbnailPixels);
    std::array<int, BrightnessBands> lightChange{};
    for (int band = 0; band < BrightnessBands; ++band)
        // A band of few pixels could be mostly the moving thing: the whole picture's median then.
        lightChange[band] = counts[band] >= MinBandPixels ? Median(histograms_[band], counts[band]) : overall;

    int changed = 0;
    for (int i = 0; i < ThumbnailPixels; ++i) {
        changed += std::abs(difference_[i] - lightChange[band_[i]]) > pixelThreshold;
        const int background = background_[i];
        background_[i] = static_cast<std::uint16_t>(
            background + (((grey_[i] << 8) - background) >> BackgroundFollowShift));
    }
    return static_cast<double>(changed) / ThumbnailPixels;
}

} // namespace lumetra
