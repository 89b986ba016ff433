#include "ProcessResources.h"

#include <psapi.h>
#include <winternl.h>

namespace lumetra::test {

namespace {
// NtCurrentTeb's segment read trips a false -Warray-bounds in GCC 12.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
// Wine's GetGuiResources is not implemented; there the process's GDI objects are counted in the
// shared GDI handle table the PEB points at (24-byte entries, Type non-zero while in use).
DWORD GdiObjectCount() {
    const DWORD counted = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0)
        return counted;
    const auto* peb = reinterpret_cast<const BYTE*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + 0xF8);
    if (!table)
        return 0;
    struct Entry {
        UINT64 object;
        ULONG owner;
        USHORT unique;
        UCHAR type;
        UCHAR flags;
        UINT64 userPointer;
    };
    static_assert(sizeof(Entry) == 24);
    const auto* entries = reinterpret_cast<const Entry*>(table);
    DWORD inUse = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (entries[i].type != 0)
            ++inUse;
    return inUse;
}
#pragma GCC diagnostic pop

// Wine answers GetProcessHandleCount with 0; there the open handles are found by asking for each
// handle value (kernel handles are multiples of 4).
DWORD HandleCount() {
    DWORD counted = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &counted) && counted != 0)
        return counted;
    DWORD open = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++open;
    }
    return open;
}

} // namespace

// Wine reports no PrivateUsage; there the committed private memory is added up region by region.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof memory) &&
        memory.PrivateUsage != 0)
        return memory.PrivateUsage;
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region{};
    const BYTE* address = nullptr;
    while (::VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return committed;
}

ResourceCounts CurrentResources() {
    ResourceCounts counts;
    counts.handles = HandleCount();
    counts.gdiObjects = GdiObjectCount();
    counts.userObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    counts.privateBytes = PrivateBytes();
    return counts;
}
} // namespace lumetra::test
