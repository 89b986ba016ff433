#pragma once
// Process-wide resource counts for leak checks. Where Wine answers the usual counters with 0, they
// are worked out another way (handle values probed, the GDI handle table, committed private memory).

#include <windows.h>

namespace lumetra::test {

struct ResourceCounts {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    SIZE_T privateBytes = 0;
};
ResourceCounts CurrentResources();
// Committed private memory alone: quick enough to read every few seconds.
SIZE_T PrivateBytes();

} // namespace lumetra::test
