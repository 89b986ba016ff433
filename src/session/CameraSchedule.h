#pragma once
// The automatic actions: the program-wide camera timer (on the camera list, every 200 ms) ticks
// every open camera; the camera list tells them when Windows announces a new video device.

#include "delivery/ImagePath.h"
#include "session/SessionHost.h"

namespace lumetra {

// Ticks every session open in host once, in ascending order of address. A box opened inside one
// session's tick holds back only that session: the others go on ticking inside its message loop.
void TickOpenSessions(SessionHost& host);
// Windows announced a new video device: every lost camera open in host looks for itself at once.
void TellDeviceArrived(SessionHost& host);

// The schedule's clock, in whole seconds that only move forward (0 is never read); tests set one
// of their own. An empty clock restores the steady clock.
void SetScheduleClock(SecondsClock clock);
std::int32_t ScheduleNow();

// `interval` seconds or more since `last`, so an interval of N seconds acts every N seconds; a time
// of 0 is never.
bool IsDue(std::int32_t last, int interval, std::int32_t now);

} // namespace lumetra
