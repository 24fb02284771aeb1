// Test helpers: Polish text in the two Central European code pages, from UTF-8 literals. The
// tables here are written out independently of the module's decoder.
#pragma once

#include <QString>
#include <map>
#include <stdexcept>
#include <string>

namespace trelvix::subtitles::test {

enum class CodePage { Windows1250, Iso8859_2 };

inline std::string Encode(const char* utf8, CodePage cp) {
  static const std::map<char16_t, std::pair<unsigned char, unsigned char>> kPolish = {
      {u'ą', {0xB9, 0xB1}}, {u'ć', {0xE6, 0xE6}}, {u'ę', {0xEA, 0xEA}}, {u'ł', {0xB3, 0xB3}},
      {u'ń', {0xF1, 0xF1}}, {u'ó', {0xF3, 0xF3}}, {u'ś', {0x9C, 0xB6}}, {u'ź', {0x9F, 0xBC}},
      {u'ż', {0xBF, 0xBF}}, {u'Ą', {0xA5, 0xA1}}, {u'Ć', {0xC6, 0xC6}}, {u'Ę', {0xCA, 0xCA}},
      {u'Ł', {0xA3, 0xA3}}, {u'Ń', {0xD1, 0xD1}}, {u'Ó', {0xD3, 0xD3}}, {u'Ś', {0x8C, 0xA6}},
      {u'Ź', {0x8F, 0xAC}}, {u'Ż', {0xAF, 0xAF}}};
  std::string out;
  for (QChar c : QString::fromUtf8(utf8)) {
    if (c.unicode() < 0x80) {
      out += char(c.unicode());
      continue;
    }
    const auto it = kPolish.find(c.unicode());
    if (it == kPolish.end()) throw std::invalid_argument("not a Polish letter");
    out += char(cp == CodePage::Windows1250 ? it->second.first : it->second.second);
  }
  return out;
}

}  // namespace trelvix::subtitles::test
