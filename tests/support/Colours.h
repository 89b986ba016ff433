#pragma once
// Colours the tests read back from images and the screen, and how near two of them must be.

#include <windows.h>

#include <cstdlib>
#include <string>

namespace lumetra::test {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

constexpr Rgb RgbOf(COLORREF colour) {
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

// Whether two colours are within `tolerance` in every channel.
inline bool Near(Rgb actual, Rgb expected, int tolerance) {
    return std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
           std::abs(actual.b - expected.b) <= tolerance;
}
inline bool Near(COLORREF actual, COLORREF expected, int tolerance) {
    return Near(RgbOf(actual), RgbOf(expected), tolerance);
}

// "(r, g, b)".
inline std::string Describe(Rgb colour) {
    return "(" + std::to_string(colour.r) + ", " + std::to_string(colour.g) + ", " +
           std::to_string(colour.b) + ")";
}

} // namespace lumetra::test
