#pragma once
// The picture of the test-pattern camera: where its fixed parts are, for tests that check frames or
// saved images. All coordinates are top-down image coordinates (row 0 is the top row of the picture),
// the same for every frame size the camera offers.

#include <windows.h>

#include <cstdint>
#include <span>

namespace lumetra::testcam {

// A square of one flat colour, drawn identically in every frame.
struct ReferencePatch {
    int x, y, size;
    BYTE r, g, b;
};

// A rectangle of the picture.
struct PatternArea {
    int x, y, width, height;
};

// Frame sizes offered, the first one being the default. Every size shows the same parts at the same
// places; a frame smaller than 640x480 shows those that fit (320x240: the colour bars and the still
// scene's block).
struct FrameSize {
    int width, height;
};
inline constexpr FrameSize kFrameSizes[] = {{640, 480}, {1280, 720}, {800, 600}, {320, 240}, {1920, 1080}};
inline constexpr int kDefaultFramesPerSecond = 15;
inline constexpr int kMinFramesPerSecond = 1;
inline constexpr int kMaxFramesPerSecond = 30;

inline constexpr ReferencePatch kReferencePatches[] = {
    {32, 256, 64, 255, 0, 0},      // red
    {128, 256, 64, 0, 255, 0},     // green
    {224, 256, 64, 0, 0, 255},     // blue
    {320, 256, 64, 255, 255, 255}, // white
    {416, 256, 64, 0, 0, 0},       // black
    {512, 256, 64, 128, 128, 128}, // mid grey
};
inline std::span<const ReferencePatch> ReferencePatches() {
    return kReferencePatches;
}

// Band of seven vertical colour bars across the full width.
inline constexpr PatternArea kColourBarBand = {0, 0, 0 /* full width */, 240};
// Band the moving square travels along, left to right, kMovingSquareStep pixels per frame.
inline constexpr PatternArea kMovingBand = {0, 336, 0 /* full width */, 48};
inline constexpr int kMovingSquareSize = 48;
inline constexpr int kMovingSquareStep = 8;
// Where the camera's friendly name and the frame counter ("Frame 123") are written.
inline constexpr PatternArea kNameArea = {16, 400, 608, 32};
inline constexpr PatternArea kFrameCounterArea = {16, 440, 304, 32};
// Colour of the background behind the patches, the moving square and the text.
inline constexpr BYTE kBackgroundGrey = 48;

// Scenes a test sets for one named camera (TestCamSetScene), as flags. A still picture is the
// pattern without the moving square and the frame counter, with a white block in the bar band.
inline constexpr DWORD kSceneStill = 1;
// With kSceneStill: the block moves kBlockStep pixels per frame, left to right and round again;
// once this flag is cleared it stays where it is.
inline constexpr DWORD kSceneMoving = 2;
// With kSceneStill: from the first frame that sees it, the light fades evenly from full to
// kDimmedPercent over kDimmingSeconds, then stays there.
inline constexpr DWORD kSceneDimming = 4;
// The camera runs and sends no frame, as a stalled device does (on its own, without kSceneStill).
inline constexpr DWORD kSceneSilent = 8;
inline constexpr PatternArea kBlock = {0, 72, 96, 96};
inline constexpr int kBlockStep = 32;
inline constexpr int kDimmingSeconds = 20;
inline constexpr int kDimmedPercent = 40;

} // namespace lumetra::testcam
