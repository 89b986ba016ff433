#pragma once
// The scene a test set for one named camera (TestPattern.h's kScene flags): one named manual-reset
// event per flag, seen by every process of the session, like the unplug event.

#include "framework/Handles.h"

#include <string>

namespace lumetra::testcam {

class SceneControl {
  public:
    // Opens (or creates, when no test has set them yet) the events of this camera's name.
    void Open(const std::wstring& cameraName);
    // The flags set now.
    DWORD Current() const;

  private:
    UniqueHandle events_[4];
};

} // namespace lumetra::testcam
