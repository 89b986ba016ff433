#include "app/CameraApp.h"

#include <windows.h>

namespace {
lumetra::CameraApp theApp;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return theApp.Run(instance);
}
