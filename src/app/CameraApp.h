#pragma once
// The application object: prepares the libraries and runs the camera list for the program's life.

#include "framework/Application.h"

namespace lumetra {

class CameraApp : public Application {
  public:
    CameraApp();
    bool InitInstance() override;
    void OnHelp() override;
};

} // namespace lumetra
