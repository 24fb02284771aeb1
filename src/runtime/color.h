// Colours as 0x00BBGGRR integers: red in the low byte, then green, then blue (the order the
// settings store and the subtitle settings keep them in).
#pragma once

#include <cstdint>

namespace trelvix::runtime {

using TColor = std::uint32_t;

constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr std::uint8_t RedOf(TColor c) {
  return std::uint8_t(c & 0xFF);
}
constexpr std::uint8_t GreenOf(TColor c) {
  return std::uint8_t((c >> 8) & 0xFF);
}
constexpr std::uint8_t BlueOf(TColor c) {
  return std::uint8_t((c >> 16) & 0xFF);
}
// 0xAARRGGBB with full alpha, the layout of QRgb and of 32-bit BGRA pixels read as one word.
constexpr std::uint32_t ColorToArgb(TColor c) {
  return 0xFF000000u | (std::uint32_t(RedOf(c)) << 16) | (std::uint32_t(GreenOf(c)) << 8) |
         BlueOf(c);
}
constexpr TColor ArgbToColor(std::uint32_t argb) {
  return RGBColor(std::uint8_t(argb >> 16), std::uint8_t(argb >> 8), std::uint8_t(argb));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

}  // namespace trelvix::runtime
