#include "web/MirrorBlockReader.h"

#include "delivery/HttpMirror.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumetra::web {

bool FindPublishedPath(const wchar_t* units, std::size_t count, std::wstring& path) {
    const std::wstring_view text(units, std::find(units, units + count, L'\0') - units);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring_view::npos; start = end + 1) {
        // A line without its line feed may be half written.
        const std::wstring_view line = text.substr(start, end - start);
        if (line.size() > 5 && line.substr(0, 5) == L"PATH=") {
            path.assign(line.substr(5));
            return true;
        }
    }
    return false;
}

bool MirrorBlockReader::Open() {
    UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kMirrorBlockName));
    if (!mapping)
        return false;
    UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return false;
    // A block made by another program may be smaller than Lumetra's.
    MEMORY_BASIC_INFORMATION region{};
    if (::VirtualQuery(view.get(), &region, sizeof region) == 0)
        return false;
    size_ = std::min<std::size_t>(region.RegionSize, kMirrorBlockSize) & ~std::size_t{1};
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    return true;
}

BlockContent MirrorBlockReader::Read(std::wstring& path) {
    if (!view_ && !Open())
        return BlockContent::Absent;
    // Two copies that agree were not torn by a write in between.
    std::vector<wchar_t> first(size_ / sizeof(wchar_t)), second(first.size());
    std::memcpy(first.data(), view_.get(), size_);
    std::memcpy(second.data(), view_.get(), size_);
    if (first != second)
        return BlockContent::Unsettled;
    return FindPublishedPath(first.data(), first.size(), path) ? BlockContent::Path : BlockContent::NoPath;
}

} // namespace lumetra::web
