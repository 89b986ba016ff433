#pragma once
// The program keeps text in the ANSI code page; GDI+ and the shared-memory block want UTF-16.
// The program's manifest makes that code page UTF-8, so any name or text passes whole; a program
// without it (Windows before 10 version 1903) has the system's code page.

#include <cstddef>
#include <string>

namespace lumetra {

// Text in the ANSI code page, `length` bytes (no terminator needed), as UTF-16.
std::wstring AnsiToWide(const char* text, std::size_t length);
inline std::wstring AnsiToWide(const std::string& text) {
    return AnsiToWide(text.data(), text.size());
}
// UTF-16 text in the ANSI code page.
std::string WideToAnsi(const std::wstring& text);
// Files the program writes for people and other programs (the event log, the image records) are
// UTF-8 whatever the code page.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const char* text, std::size_t length);
inline std::string AnsiToUtf8(const std::string& text) {
    return WideToUtf8(AnsiToWide(text));
}

// Characters of ANSI text as an edit control counts them (UTF-16 code units), not its bytes.
std::size_t AnsiCharacterCount(const std::string& text);
// The longest start of text with at most maxChars characters (as counted above) and at most
// maxBytes bytes that ends between two characters.
std::string AnsiPrefix(const std::string& text, std::size_t maxChars,
                       std::size_t maxBytes = std::string::npos);

// Text written in the system's own ANSI code page before the program used UTF-8 (a face name in a
// stored LOGFONT), in the code page in use now. Text that is already valid there is kept as it is.
std::string FromLegacyAnsi(const std::string& text);

} // namespace lumetra
