#include "PatternRenderer.h"

#include "TestCamCommon.h"
#include "TestPattern.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumetra::testcam {

namespace {

struct Rgb {
    BYTE r, g, b;
};
// 75 % colour bars: white, yellow, cyan, green, magenta, red, blue.
constexpr Rgb kBars[] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                         {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};

} // namespace

PatternRenderer::PatternRenderer(int width, int height, std::wstring cameraName)
    : width_(width), height_(height), stride_(Rgb24Stride(width)), cameraName_(std::move(cameraName)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, like the frames delivered
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_.reset(CreateCompatibleDC(nullptr));
    if (!dc_)
        return;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap_)
        return;
    font_.reset(CreateFontW(-26, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS,
                            L"Tahoma"));
    bitmapSelection_.emplace(dc_.get(), bitmap_.get());
    if (font_)
        fontSelection_.emplace(dc_.get(), font_.get());
    SetBkMode(dc_.get(), TRANSPARENT);
    SetTextColor(dc_.get(), RGB(255, 255, 255));
    pixels_ = static_cast<BYTE*>(bits);
    background_.resize(static_cast<size_t>(stride_) * height_);
    DrawBackground();
    GdiFlush();
    std::memcpy(background_.data(), pixels_, background_.size());
}

void PatternRenderer::FillRect(int x, int y, int width, int height, BYTE r, BYTE g, BYTE b) {
    const int left = std::clamp(x, 0, width_), right = std::clamp(x + width, 0, width_);
    const int top = std::clamp(y, 0, height_), bottom = std::clamp(y + height, 0, height_);
    for (int row = top; row < bottom; ++row) {
        // Top-down row `row` is stored at bottom-up index height - 1 - row.
        BYTE* pixel = pixels_ + static_cast<size_t>(height_ - 1 - row) * stride_ + left * 3;
        for (int column = left; column < right; ++column) {
            *pixel++ = b;
            *pixel++ = g;
            *pixel++ = r;
        }
    }
}

void PatternRenderer::DrawBackground() {
    std::memset(pixels_, kBackgroundGrey, static_cast<size_t>(stride_) * height_);
    constexpr int barCount = static_cast<int>(std::size(kBars));
    for (int bar = 0; bar < barCount; ++bar) {
        const int left = width_ * bar / barCount, right = width_ * (bar + 1) / barCount;
        FillRect(left, kColourBarBand.y, right - left, kColourBarBand.height, kBars[bar].r, kBars[bar].g,
                 kBars[bar].b);
    }
    for (const ReferencePatch& patch : ReferencePatches())
        FillRect(patch.x, patch.y, patch.size, patch.size, patch.r, patch.g, patch.b);
    FillRect(0, kMovingBand.y, width_, kMovingBand.height, 16, 16, 64);
    RECT nameRect = {kNameArea.x, kNameArea.y, kNameArea.x + kNameArea.width, kNameArea.y + kNameArea.height};
    DrawTextW(dc_.get(), cameraName_.c_str(), -1, &nameRect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
}

void PatternRenderer::Render(uint64_t frameNumber, BYTE* target) {
    if (!valid())
        return;
    std::memcpy(pixels_, background_.data(), background_.size());
    const int travel = std::max(1, width_ - kMovingSquareSize);
    const int squareX = static_cast<int>((frameNumber * kMovingSquareStep) % static_cast<uint64_t>(travel));
    FillRect(squareX, kMovingBand.y, kMovingSquareSize, kMovingSquareSize, 255, 255, 0);

    wchar_t counter[32];
    std::swprintf(counter, std::size(counter), L"Frame %llu", static_cast<unsigned long long>(frameNumber));
    RECT counterRect = {kFrameCounterArea.x, kFrameCounterArea.y,
                        kFrameCounterArea.x + kFrameCounterArea.width,
                        kFrameCounterArea.y + kFrameCounterArea.height};
    DrawTextW(dc_.get(), counter, -1, &counterRect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    GdiFlush();
    std::memcpy(target, pixels_, background_.size());
}

void PatternRenderer::RenderScene(DWORD scene, BYTE* target) {
    if (!valid())
        return;
    if (scene & kSceneMoving)
        ++blockSteps_;
    std::memcpy(pixels_, background_.data(), background_.size());
    const int travel = std::max(1, width_ - kBlock.width);
    const int blockX = static_cast<int>((blockSteps_ * kBlockStep) % static_cast<uint64_t>(travel));
    FillRect(blockX, kBlock.y, kBlock.width, kBlock.height, 255, 255, 255);

    if (!(scene & kSceneDimming)) {
        dimmingSince_ = 0;
        std::memcpy(target, pixels_, background_.size());
        return;
    }
    const ULONGLONG now = GetTickCount64();
    if (dimmingSince_ == 0)
        dimmingSince_ = now;
    const ULONGLONG rampMs = kDimmingSeconds * 1000ULL;
    const ULONGLONG elapsed = std::min(now - dimmingSince_, rampMs);
    // Brightness in 1/1024: full at the start, kDimmedPercent at the end of the ramp.
    const unsigned gain =
        1024 - static_cast<unsigned>((1024ULL * (100 - kDimmedPercent) / 100) * elapsed / rampMs);
    BYTE levels[256];
    for (unsigned level = 0; level < 256; ++level)
        levels[level] = static_cast<BYTE>((level * gain + 512) / 1024);
    for (size_t i = 0; i < background_.size(); ++i)
        target[i] = levels[pixels_[i]];
}

} // namespace lumetra::testcam
