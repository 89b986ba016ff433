#include "framework/SharedBlock.h"

#include <algorithm>

namespace lumetra {

SharedBlock::Opened SharedBlock::Create(const char* name, std::size_t size) {
    Close();
    UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              static_cast<DWORD>(size), name));
    if (!mapping)
        return Opened::Failed;
    const bool existing = ::GetLastError() == ERROR_ALREADY_EXISTS;
    UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (!view)
        return Opened::Failed;
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    size_ = size;
    return existing ? Opened::Existing : Opened::Created;
}

bool SharedBlock::OpenForReading(const char* name, std::size_t maxSize, std::size_t minSize) {
    Close();
    UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, name));
    if (!mapping)
        return false;
    UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return false;
    MEMORY_BASIC_INFORMATION region{};
    if (::VirtualQuery(view.get(), &region, sizeof region) == 0 || region.RegionSize < minSize)
        return false;
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    size_ = std::min<std::size_t>(region.RegionSize, maxSize);
    return true;
}

void SharedBlock::Close() {
    view_.reset();
    mapping_.reset();
    size_ = 0;
}

} // namespace lumetra
