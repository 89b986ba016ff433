#pragma once
// The automatic actions: the program-wide camera timer ticks every open camera.

#include "delivery/ImagePath.h"

#include <windows.h>

namespace lumetra {

// Timer procedure of the camera timer (id 31415, 200 ms) on the camera list.
void CALLBACK OnCameraTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

// Ticks every open session once, in ascending order of address. A box opened inside one session's
// tick holds back only that session: the others go on ticking inside its message loop.
void TickOpenSessions();

// The schedule's clock, in whole seconds that only move forward (0 is never read); tests set one
// of their own. An empty clock restores the steady clock.
void SetScheduleClock(SecondsClock clock);
std::int32_t ScheduleNow();

} // namespace lumetra
