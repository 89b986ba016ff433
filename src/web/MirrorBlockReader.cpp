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

BlockContent MirrorBlockReader::Read(std::wstring& path) {
    if (!block_ && !block_.OpenForReading(kMirrorBlockName, kMirrorBlockSize))
        return BlockContent::Absent;
    // Two copies that agree were not torn by a write in between. A block made by another program
    // may be smaller than Lumetra's, even of an odd size.
    const std::size_t units = block_.Size() / sizeof(wchar_t);
    std::vector<wchar_t> first(units), second(units);
    std::memcpy(first.data(), block_.Data(), units * sizeof(wchar_t));
    std::memcpy(second.data(), block_.Data(), units * sizeof(wchar_t));
    if (first != second)
        return BlockContent::Unsettled;
    return FindPublishedPath(first.data(), first.size(), path) ? BlockContent::Path : BlockContent::NoPath;
}

} // namespace lumetra::web
