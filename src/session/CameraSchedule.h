#pragma once
// The automatic actions: the program-wide camera timer ticks every open camera.

#include "delivery/ImagePath.h"

#include <windows.h>

namespace lumetra {

// Timer procedure of the camera timer (id 31415, 200 ms) on the camera list.
void CALLBACK OnCameraTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

// Ticks every open session once, in ascending order of address. A tick that opens a message loop
// (an error box of an upload) does not let further ticks run inside it.
void TickOpenSessions();

// The schedule's clock; tests set one of their own. An empty clock restores the system clock.
void SetScheduleClock(SecondsClock clock);
std::int32_t ScheduleNow();

} // namespace lumetra
