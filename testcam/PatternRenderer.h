#pragma once
// Draws the test pattern of one camera into RGB24 bottom-up frames.

#include "framework/Handles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumetra::testcam {

class PatternRenderer {
  public:
    PatternRenderer(int width, int height, std::wstring cameraName);
    PatternRenderer(const PatternRenderer&) = delete;
    PatternRenderer& operator=(const PatternRenderer&) = delete;

    bool valid() const { return pixels_ != nullptr; }
    size_t imageSize() const { return background_.size(); }
    // Writes frame number frameNumber into target (imageSize() bytes, bottom-up RGB24).
    void Render(uint64_t frameNumber, BYTE* target);
    // Writes the next frame of a scene with kSceneStill set (TestPattern.h) into target.
    void RenderScene(DWORD scene, BYTE* target);

  private:
    void DrawBackground();
    void FillRect(int x, int y, int width, int height, BYTE r, BYTE g, BYTE b);

    int width_;
    int height_;
    int stride_;
    std::wstring cameraName_;
    // Declared so that the selections end first, then the objects, then the DC.
    UniqueMemoryDC dc_;
    UniqueBitmap bitmap_;
    UniqueFont font_;
    std::optional<SelectObjectScope> bitmapSelection_;
    std::optional<SelectObjectScope> fontSelection_;
    BYTE* pixels_ = nullptr;
    std::vector<BYTE> background_;
    uint64_t blockSteps_ = 0;    // frames the block has moved
    ULONGLONG dimmingSince_ = 0; // GetTickCount64 of the first dimming frame; 0 when not dimming
};

} // namespace lumetra::testcam
