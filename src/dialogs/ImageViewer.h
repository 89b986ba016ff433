#pragma once
// The "Image" window: shows the image file a camera saved last, read from disk at every paint.

#include "framework/Dialog.h"

#include <functional>
#include <string>

namespace lumetra {

class ImageViewer : public Dialog {
  public:
    // Creates the window at once, hidden, top-level without an owner window.
    ImageViewer();
    ~ImageViewer() override;

    // Called once when the window is gone (the viewer's owner forgets it); empty calls nothing.
    void WhenDestroyed(std::function<void()> destroyed) { destroyed_ = std::move(destroyed); }
    // Takes the path of the image to show and repaints.
    void SetImagePath(const std::string& path);
    const std::string& ImagePath() const { return imagePath; }
    void Cancel() { OnCancel(); }

  protected:
    void OnOK() override;
    void OnCancel() override;
    void PostNcDestroy() override { delete this; }
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void Paint();

    std::string imagePath;
    std::function<void()> destroyed_;
};

} // namespace lumetra
