#include "framework/AnsiText.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace lumetra {

namespace {

std::wstring ToWide(UINT codePage, DWORD flags, const char* text, size_t length) {
    if (length == 0 || length > INT_MAX)
        return {};
    const int sourceLength = static_cast<int>(length);
    const int wideLength = ::MultiByteToWideChar(codePage, flags, text, sourceLength, nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(codePage, flags, text, sourceLength, wide.data(), wideLength);
    return wide;
}

// The ANSI code page of the system's locale: what the A functions used before the manifest made
// them UTF-8 (GetACP then answers 65001; the locale keeps its own).
UINT LegacyCodePage() {
    DWORD codePage = 0;
    if (::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                         reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR)) == 0)
        return CP_ACP;
    return codePage;
}

} // namespace

std::wstring AnsiToWide(const char* text, size_t length) {
    return ToWide(CP_ACP, 0, text, length);
}

namespace {
std::string FromWide(UINT codePage, const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int wideLength = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(codePage, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), wideLength, bytes.data(), size, nullptr, nullptr);
    return bytes;
}
} // namespace

std::string WideToAnsi(const std::wstring& text) {
    return FromWide(CP_ACP, text);
}

std::string WideToUtf8(const std::wstring& text) {
    return FromWide(CP_UTF8, text);
}

std::wstring Utf8ToWide(const char* text, size_t length) {
    return ToWide(CP_UTF8, 0, text, length);
}

size_t AnsiCharacterCount(const std::string& text) {
    return AnsiToWide(text).size();
}

std::string AnsiPrefix(const std::string& text, size_t maxChars, size_t maxBytes) {
    std::wstring wide = AnsiToWide(text);
    if (wide.size() <= maxChars && text.size() <= maxBytes)
        return text;
    size_t cut = std::min(wide.size(), maxChars);
    for (;;) {
        if (cut > 0 && IS_HIGH_SURROGATE(wide[cut - 1]))
            --cut; // never half a pair
        std::string prefix = WideToAnsi(wide.substr(0, cut));
        if (prefix.size() <= maxBytes || cut == 0)
            return prefix;
        --cut;
    }
}

std::string FromLegacyAnsi(const std::string& text) {
    if (text.empty() || ::GetACP() != CP_UTF8 ||
        !ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), text.size()).empty())
        return text;
    const UINT legacy = LegacyCodePage();
    if (legacy == CP_UTF8 || legacy == CP_ACP)
        return text;
    return WideToAnsi(ToWide(legacy, 0, text.data(), text.size()));
}

} // namespace lumetra
