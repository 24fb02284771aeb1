#include "decoder/info_text.h"

#include <cmath>
#include <cstdlib>

#include "media/ffapi.h"
#include "runtime/format.h"

namespace trelvix::decoder {
namespace {

struct KeyName {
  const char* key;
  const char* shown;
};

// ID3v2 frame names (v2.3/v2.4 and the three-letter v2.2 ones) and how they are shown.
constexpr KeyName kID3v2Keys[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};

}  // namespace

std::string RateText(double value, const char* name) {
  const long long v = std::llround(value * 100);
  if (v % 100 != 0) return runtime::Format(", %3.2f %s", value, name);
  if (v % 100000 != 0) return runtime::Format(", %1.0f %s", value, name);
  return runtime::Format(", %1.0fk %s", value / 1000, name);
}

std::string StartTimeText(int64_t us) {
  // One sign for the whole number: -1.4 s is "-1.400000", not "-1.-400000".
  const char* sign = us < 0 ? "-" : "";
  const uint64_t mag = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  return runtime::Format("%s%llu.%.6llu", sign, static_cast<unsigned long long>(mag / 1000000),
                         static_cast<unsigned long long>(mag % 1000000));
}

std::string DisplayMetadataKey(const std::string& key) {
  for (const KeyName& k : kID3v2Keys)
    if (key == k.key) return k.shown;
  return key;
}

void AppendMetadataBlock(std::vector<std::string>& lines, const AVDictionary* metadata,
                         const std::string& indent) {
  if (!metadata) return;
  const int count = ff::av_dict_count(metadata);
  if (count == 0) return;
  if (count == 1 && ff::av_dict_get(metadata, "language", nullptr, AV_DICT_MATCH_CASE)) return;
  lines.push_back(indent + "Metadata:");
  const AVDictionaryEntry* e = nullptr;
  while ((e = ff::av_dict_get(metadata, "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (std::string(e->key) == "language") continue;
    lines.push_back(runtime::Format("%s  %-16s: %s", indent.c_str(),
                                    DisplayMetadataKey(e->key).c_str(), e->value));
  }
}

}  // namespace trelvix::decoder
