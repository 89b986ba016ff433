#include "framework/AnsiText.h"

#include <windows.h>

#include <climits>

namespace lumetra {

std::wstring AnsiToWide(const char* text, size_t length) {
    if (length == 0 || length > INT_MAX)
        return {};
    const int sourceLength = static_cast<int>(length);
    const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, text, sourceLength, nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, sourceLength, wide.data(), wideLength);
    return wide;
}

} // namespace lumetra
