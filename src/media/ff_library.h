// The loadable libraries and sets of them.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace trelvix::media {

enum TLibrary : uint8_t {
  avCodec,
  avDevice,
  avFilter,
  avFormat,
  avUtil,
  swScale,
  swResample,
  myUtil,  // the C runtime: the process's own, so it binds nothing
  lbSDL,
};
inline constexpr int kLibraryCount = lbSDL + 1;

// A set of libraries, bit n for the n-th value.
class TLibraries {
 public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> libs) {
    for (TLibrary l : libs) bits_ |= Bit(l);
  }
  constexpr bool Contains(TLibrary l) const { return (bits_ & Bit(l)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLibraries operator+(TLibraries o) const { return FromBits(bits_ | o.bits_); }
  constexpr bool operator==(const TLibraries&) const = default;

 private:
  static constexpr uint16_t Bit(TLibrary l) { return static_cast<uint16_t>(1u << l); }
  static constexpr TLibraries FromBits(uint16_t b) {
    TLibraries s;
    s.bits_ = b;
    return s;
  }
  uint16_t bits_ = 0;
};

// The sets the components load.
inline constexpr TLibraries kEncoderLibraries{avCodec, avFilter,   avFormat, avUtil,
                                              swScale, swResample, myUtil};
inline constexpr TLibraries kDecoderLibraries{avCodec, avFormat, avUtil, swScale, myUtil};
inline constexpr TLibraries kPlayerLibraries{avCodec, avFilter,   avFormat, avUtil,
                                             swScale, swResample, myUtil,   lbSDL};
inline constexpr TLibraries kAllLibraries{avCodec, avDevice,   avFilter, avFormat, avUtil,
                                          swScale, swResample, myUtil,   lbSDL};

}  // namespace trelvix::media
