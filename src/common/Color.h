#pragma once

#include <cstdint>

// A colour as the settings and the drawing code keep it: red in the lowest byte, then
// green, then blue ($00BBGGRR), the top byte 0. A value whose top byte is all ones names
// a system colour by the index in its lowest byte and is resolved against the current
// palette when drawn. Signed, because the ini files store system colours as the
// negative numbers the value has as a 32-bit integer.
using TColor = std::int32_t;

constexpr TColor RGBColor(int red, int green, int blue) {
    return TColor((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

// System colour number index (0 scroll bar .. 30 menu bar) as a stored colour.
constexpr TColor SystemColor(int index) {
    return TColor(std::uint32_t(0xFF000000u) | std::uint32_t(index & 0xFF));
}

constexpr bool IsSystemColor(TColor color) {
    return (std::uint32_t(color) & 0xFF000000u) == 0xFF000000u;
}
