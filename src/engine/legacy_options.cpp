#include "engine/legacy_options.h"

#include <cstdlib>

namespace trelvix::engine {
namespace {

struct FlagMove {
  const char* old_flag;
  const char* option;  // the encoder's own option
  const char* on;      // value for "+flag"
  const char* off;     // value for "-flag"
};

// flags2 of the old H.264 encoder wrapper, now libx264 options of their own.
constexpr FlagMove kFlags2Moves[] = {
    {"bpyramid", "b-pyramid", "normal", "none"},
    {"wpred", "weightb", "1", "0"},
    {"mixed_refs", "mixed-refs", "1", "0"},
    {"dct8x8", "8x8dct", "1", "0"},
    {"fastpskip", "fast-pskip", "1", "0"},
    {"aud", "aud", "1", "0"},
    {"mbtree", "mbtree", "1", "0"},
    {"psy", "psy", "1", "0"},
    {"ssim", "ssim", "1", "0"},
    {"intra_refresh", "intra-refresh", "1", "0"},
};

// flags2 values this library generation still knows as generic flags.
constexpr const char* kGenericFlags2[] = {"fast",         "noout",       "ignorecrop",
                                          "local_header", "chunks",      "showall",
                                          "export_mvs",   "skip_manual", "ass_ro_flush_noop"};

// flags that moved into an encoder's own table.
constexpr FlagMove kFlagsMoves[] = {
    {"scan_offset", "scan_offset", "1", "0"},
};

// Partition flags of the old wrapper and the names libx264 uses for them.
constexpr std::pair<const char*, const char*> kPartitions[] = {{"parti4x4", "i4x4"},
                                                               {"parti8x8", "i8x8"},
                                                               {"partp4x4", "p4x4"},
                                                               {"partp8x8", "p8x8"},
                                                               {"partb8x8", "b8x8"}};

template <class T, size_t N>
const T* FindMove(const T (&table)[N], const std::string& flag) {
  for (const T& m : table)
    if (flag == m.old_flag) return &m;
  return nullptr;
}

template <size_t N>
bool InList(const char* const (&list)[N], const std::string& s) {
  for (const char* x : list)
    if (s == x) return true;
  return false;
}

bool IsInteger(const std::string& s, long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0') return false;
  *out = v;
  return true;
}

std::string JoinFlags(const std::vector<std::pair<char, std::string>>& flags) {
  std::string out;
  for (const auto& [sign, name] : flags) {
    if (sign)
      out += sign;
    else if (!out.empty())
      out += '+';
    out += name;
  }
  return out;
}

// flags / flags2: moves the flags of `moves` into encoder options, keeps the rest generic.
template <size_t N>
TLegacyTranslation TranslateFlags(const std::string& name, const std::string& value,
                                  const FlagMove (&moves)[N], bool check_generic) {
  TLegacyTranslation t;
  std::vector<std::pair<char, std::string>> keep;
  for (const auto& part : SplitFlags(value)) {
    if (const FlagMove* m = FindMove(moves, part.second)) {
      t.translated = true;
      t.encoder.emplace_back(m->option, part.first == '-' ? m->off : m->on);
    } else if (check_generic && !InList(kGenericFlags2, part.second)) {
      t.translated = true;
      // Gone without a successor ("skiprd", "ivlc", "reservoir" ...).
      t.dropped.push_back(std::string(1, part.first ? part.first : '+') + part.second);
    } else {
      keep.push_back(part);
    }
  }
  if (!t.translated) return TLegacyTranslation{};
  if (!keep.empty()) t.generic.emplace_back(name, JoinFlags(keep));
  return t;
}

}  // namespace

std::vector<std::pair<char, std::string>> SplitFlags(const std::string& value) {
  std::vector<std::pair<char, std::string>> out;
  size_t i = 0;
  while (i < value.size()) {
    char sign = 0;
    if (value[i] == '+' || value[i] == '-') sign = value[i++];
    size_t j = i;
    while (j < value.size() && value[j] != '+' && value[j] != '-') ++j;
    if (j > i) out.emplace_back(sign, value.substr(i, j - i));
    i = j;
  }
  return out;
}

TLegacyTranslation TranslateLegacyOption(const std::string& name, const std::string& value) {
  TLegacyTranslation t;
  if (name == "partitions") {
    if (value.empty() || (value[0] != '+' && value[0] != '-')) return t;
    t.translated = true;
    std::string list;
    for (const auto& [sign, flag] : SplitFlags(value)) {
      const char* now = nullptr;
      for (const auto& [old_name, new_name] : kPartitions)
        if (flag == old_name) now = new_name;
      if (!now) {
        t.dropped.push_back(std::string(1, sign ? sign : '+') + flag);
        continue;
      }
      if (sign == '-') continue;
      if (!list.empty()) list += ',';
      list += now;
    }
    t.encoder.emplace_back("partitions", list.empty() ? "none" : list);
    return t;
  }
  if (name == "flags2") return TranslateFlags(name, value, kFlags2Moves, true);
  if (name == "flags") return TranslateFlags(name, value, kFlagsMoves, false);
  if (name == "directpred") {
    t.translated = true;
    t.encoder.emplace_back("direct-pred", value);
    return t;
  }
  if (name == "cqp") {
    t.translated = true;
    long q = 0;
    if (IsInteger(value, &q) && q < 0) return t;  // "unset" in the old form
    t.encoder.emplace_back("qp", value);
    return t;
  }
  return t;
}

}  // namespace trelvix::engine
