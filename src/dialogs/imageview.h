#pragma once
// The "Image" window: shows the image file a camera saved last, read from disk at every paint.

#include "framework/Dialog.h"

#include <string>

namespace lumetra {

class camview;

class imageview : public Dialog {
  public:
    // Creates the window at once, hidden, top-level without an owner window.
    imageview();
    ~imageview() override;

    void SetSession(camview* session) { session_ = session; }
    void ClearSession() { session_ = nullptr; }
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
    camview* session_ = nullptr;
};

} // namespace lumetra
