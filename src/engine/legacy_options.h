// Codec options in the form of the old libraries, as the built-in H.264 presets, the targets and
// users' preset files write them, translated to what today's encoders take.
//
// Most old names are still generic codec options with the same meaning. Some moved into an
// encoder's own option table (libx264's "coder", "me_method", "sc_threshold" ... keep their names
// there), and a few changed name or value form; those are rewritten here. Pure functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace trelvix::engine {

struct TLegacyTranslation {
  // True when the pair was an old form that the lists below replace; false: use it as it is.
  bool translated = false;
  // Still generic codec options.
  std::vector<std::pair<std::string, std::string>> generic;
  // Options of the encoder's own table (libx264, mpeg2video ...).
  std::vector<std::pair<std::string, std::string>> encoder;
  // Parts that have no equivalent any more ("+skiprd" ...), for the log.
  std::vector<std::string> dropped;
};

// Translates one option pair:
//   partitions=+parti8x8+parti4x4-partp4x4...  -> partitions=i8x8,i4x4 (or "none")
//   flags2=+mixed_refs+wpred+dct8x8-bpyramid... -> mixed-refs=1 weightb=1 8x8dct=1 b-pyramid=none
//     (flags that are still generic stay in a generic "flags2")
//   flags=+scan_offset                           -> scan_offset=1 (other flags stay generic)
//   directpred=N                                 -> direct-pred=N
//   cqp=N                                        -> qp=N (a negative value: nothing)
// Everything else is returned untranslated.
TLegacyTranslation TranslateLegacyOption(const std::string& name, const std::string& value);

// Splits a flag text "+a-b+c" or "a+b" into (sign, name) parts; sign is '+', '-' or 0 for none.
std::vector<std::pair<char, std::string>> SplitFlags(const std::string& value);

}  // namespace trelvix::engine
