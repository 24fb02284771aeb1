// Shared helpers of the suite: file-name forms, library error texts, time and size texts,
// codec and media-type names, metadata lookup. Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

struct AVCodecParameters;
struct AVDictionary;

namespace trelvix::media {

// The form in which the format library is handed a name the local 8-bit encoding cannot hold.
inline constexpr char kUnicodePrefix[] = "unicode:utf8:";

// Names are UTF-8 here. False for protocol URLs (http:, udp: ... exact case); otherwise true when
// the name does not survive conversion to the locale's 8-bit encoding and back.
bool NeedsUnicodeName(const std::string& name);
// The name for the format library: "unicode:utf8:" + name when NeedsUnicodeName, else the name in
// the locale's 8-bit encoding.
std::string LibFileName(const std::string& name);
// The inverse of LibFileName: the UTF-8 name.
std::string WideFileName(const std::string& lib_name);
bool IsUnicodeName(const std::string& lib_name);

// "<file>: <text for the code>", codes of this library generation (AVERROR_EOF ...).
std::string LibErrorText(const std::string& file_name, int error_code);
// The text alone.
std::string ErrorCodeText(int error_code);

// "hh:mm:ss.mmm" (hours not reduced), "N/A" for AV_NOPTS_VALUE.
std::string TimeText(int64_t us);
// "%d Byte", "%.2f KB", "%.2f MB", "%.2f GB" with the locale's decimal separator.
std::string SizeText(int64_t bytes);
// Unix seconds to a date-time value (days since 1899-12-30) in local standard time.
double UnixToLocalTime(int64_t seconds);
// A date-time value as "yyyy-mm-dd hh:nn:ss".
std::string DateTimeText(double date_time);
// The system zone's standard bias in minutes (runtime::StandardTimeZoneBias).
int StandardTimeZoneBias();

// "name(long name)" of the codec for the parameters, or the fallbacks for unknown codecs.
std::string CodecNameText(const AVCodecParameters* par, bool encoding);
// Microseconds per frame for a frame rate num/den; 40000 when either is 0.
int64_t FrameDuration(int num, int den);
// "Video", "Audio", "Data", "Subtitle", "Attachment", "Unknown".
std::string MediaTypeName(int type);
// The value of the entry with that key, else the default.
std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& default_value = "");

// Local 8-bit encoding (the C locale's codeset) conversions; false when a character cannot be
// represented.
bool ToLocal8Bit(const std::string& utf8, std::string& out);
std::string FromLocal8Bit(const std::string& bytes);

}  // namespace trelvix::media
