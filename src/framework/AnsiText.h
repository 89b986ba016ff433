#pragma once
// The program keeps text in the ANSI code page; GDI+ and the shared-memory block want UTF-16.

#include <cstddef>
#include <string>

namespace lumetra {

// Text in the ANSI code page, `length` bytes (no terminator needed), as UTF-16.
std::wstring AnsiToWide(const char* text, std::size_t length);
inline std::wstring AnsiToWide(const std::string& text) {
    return AnsiToWide(text.data(), text.size());
}

} // namespace lumetra
