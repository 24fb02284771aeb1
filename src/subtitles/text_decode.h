// Reading subtitle files as text: the encoding is taken from a byte-order mark, else UTF-8 when
// the bytes are valid UTF-8, else the character set the detector names, preferring the Central
// European code pages when the high bytes read as Polish letters there. Stateless; any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace trelvix::subtitles {

// The encoding a decode used (for diagnostics and tests).
struct TTextEncoding {
  QString Name;  // "UTF-8", "UTF-16LE", "UTF-16BE", "WINDOWS-1250", "ISO-8859-2", ...
  bool FromBom = false;
};

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF). Pure ASCII is valid UTF-8.
bool IsValidUtf8(const QByteArray& bytes);

// Decodes a whole file's bytes. The byte-order mark, if any, is not part of the result.
QString DecodeSubtitleText(const QByteArray& bytes, TTextEncoding* used = nullptr);

// Breaks text into lines at CR LF, LF or CR. A final line break does not add an empty line.
QStringList SplitTextLines(const QString& text);

// Reads a file into lines (DecodeSubtitleText + SplitTextLines). False when the file cannot be
// read; lines is then empty.
bool ReadSubtitleLines(const QString& file_name, QStringList& lines, TTextEncoding* used = nullptr);

// Decoding with one of the two Central European code pages (tables of this module).
QString DecodeWindows1250(const QByteArray& bytes);
QString DecodeIso8859_2(const QByteArray& bytes);

}  // namespace trelvix::subtitles
