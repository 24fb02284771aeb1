#include "media/ff_utils.h"

#include <iconv.h>
#include <langinfo.h>

#include <QDateTime>
#include <QTimeZone>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "media/ffapi.h"
#include "runtime/format.h"
#include "runtime/locale_utils.h"

namespace trelvix::media {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool Iconv(const char* to, const char* from, const std::string& in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  std::string buf(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = buf.data();
  size_t dst_left = buf.size();
  const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || r > 0) return false;  // unconvertible or approximated
  out.assign(buf.data(), buf.size() - dst_left);
  return true;
}

const char* LocalCodeset() {
  const char* cs = nl_langinfo(CODESET);
  return (cs && *cs) ? cs : "ANSI_X3.4-1968";
}

}  // namespace

bool ToLocal8Bit(const std::string& utf8, std::string& out) {
  return Iconv(LocalCodeset(), "UTF-8", utf8, out);
}

std::string FromLocal8Bit(const std::string& bytes) {
  std::string out;
  return Iconv("UTF-8", LocalCodeset(), bytes, out) ? out : bytes;
}

bool NeedsUnicodeName(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon != std::string::npos) {
    static const std::string kProtocols = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
    if (kProtocols.find(":" + name.substr(0, colon) + ":") != std::string::npos) return false;
  }
  std::string local;
  if (!ToLocal8Bit(name, local)) return true;
  return FromLocal8Bit(local) != name;
}

std::string LibFileName(const std::string& name) {
  if (NeedsUnicodeName(name)) return kUnicodePrefix + name;
  std::string local;
  return ToLocal8Bit(name, local) ? local : name;
}

bool IsUnicodeName(const std::string& lib_name) {
  return lib_name.size() >= sizeof kUnicodePrefix &&
         lib_name.compare(0, sizeof kUnicodePrefix - 1, kUnicodePrefix) == 0;
}

std::string WideFileName(const std::string& lib_name) {
  if (IsUnicodeName(lib_name)) {
    // Everything up to and including the second ':' is the form's prefix.
    const size_t second = lib_name.find(':', lib_name.find(':') + 1);
    return lib_name.substr(second + 1);
  }
  return FromLocal8Bit(lib_name);
}

std::string ErrorCodeText(int code) {
  switch (code) {
    case AVERROR_PATCHWELCOME:
      return "Not yet implemented in FFmpeg";
    case AVERROR_PROTOCOL_NOT_FOUND:
      return "Unsupported network protocol";
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_ENCODER_NOT_FOUND:
    case AVERROR_FILTER_NOT_FOUND:
    case AVERROR_BSF_NOT_FOUND:
    case AVERROR_OPTION_NOT_FOUND:
    case AVERROR_STREAM_NOT_FOUND:
      return "Unknown format";
    case AVERROR(EDOM):
      return "Number syntax expected in filename";
    case AVERROR_EOF:
      return "End of file";
    case AVERROR_INVALIDDATA:
      return "Invalid data found when processing input";
    case AVERROR(ENOMEM):
      return "Not enough memory";
    case AVERROR(EIO):
      return "I/O error";
    case AVERROR(ENOENT):
      return "No such file or directory";
    default: {
      // The library's own description, where it knows the code, says what went wrong.
      std::string text = runtime::Format("Error number %d occurred", code);
      char own[AV_ERROR_MAX_STRING_SIZE] = {};
      if (ff::av_strerror && ff::av_strerror(code, own, sizeof own) == 0)
        text += ": " + std::string(own);
      return text;
    }
  }
}

std::string LibErrorText(const std::string& file_name, int error_code) {
  return file_name + ": " + ErrorCodeText(error_code);
}

std::string TimeText(int64_t us) {
  if (us == AV_NOPTS_VALUE) return "N/A";
  const int64_t s = us / 1000000;
  return runtime::Format("%.2d:%.2d:%.2d.%.3d", static_cast<int>(s / 3600),
                         static_cast<int>((s / 60) % 60), static_cast<int>(s % 60),
                         static_cast<int>((us % 1000000) * 1000 / 1000000));
}

std::string SizeText(int64_t bytes) {
  if (bytes <= 1024) return runtime::Format("%d Byte", static_cast<int>(bytes));
  std::string s;
  if (bytes <= 1048576)
    s = runtime::Format("%.2f KB", bytes / 1024.0);
  else if (bytes <= 1073741824)
    s = runtime::Format("%.2f MB", bytes / 1048576.0);
  else
    s = runtime::Format("%.2f GB", bytes / 1073741824.0);
  const std::string sep = runtime::DecimalSeparator();
  const size_t dot = s.find('.');
  if (dot != std::string::npos && sep != ".") s.replace(dot, 1, sep);
  return s;
}

int StandardTimeZoneBias() {
  return runtime::StandardTimeZoneBias();
}

double UnixToLocalTime(int64_t seconds) {
  return static_cast<double>(seconds) / 86400.0 + 25569.0 - StandardTimeZoneBias() / 1440.0;
}

std::string DateTimeText(double dt) {
  const int64_t total = std::llround((dt - 25569.0) * 86400.0);
  const QDateTime t = QDateTime::fromSecsSinceEpoch(total, QTimeZone::utc());
  return t.toString("yyyy-MM-dd hh:mm:ss").toStdString();
}

std::string CodecNameText(const AVCodecParameters* par, bool encoding) {
  const AVCodec* codec =
      encoding ? ff::avcodec_find_encoder(par->codec_id) : ff::avcodec_find_decoder(par->codec_id);
  if (codec) {
    const std::string long_name = codec->long_name ? Trim(codec->long_name) : "";
    if (long_name.empty()) return codec->name;
    return runtime::Format("%s(%s)", codec->name, long_name.c_str());
  }
  if (par->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  if (const AVCodecDescriptor* d = ff::avcodec_descriptor_get(par->codec_id)) {
    const std::string name = Trim(d->name ? d->name : "");
    if (!name.empty()) return name;
  }
  const uint32_t tag = par->codec_tag;
  const char c[4] = {static_cast<char>(tag & 0xFF), static_cast<char>((tag >> 8) & 0xFF),
                     static_cast<char>((tag >> 16) & 0xFF), static_cast<char>((tag >> 24) & 0xFF)};
  bool printable = true;
  for (char ch : c) printable = printable && ch >= 32 && ch <= 126;
  if (printable) return runtime::Format("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
  return runtime::Format("0x%04x", tag);
}

int64_t FrameDuration(int num, int den) {
  if (num == 0 || den == 0) return 40000;
  return int64_t{1000000} * den / num;
}

std::string MediaTypeName(int type) {
  static const char* const kNames[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
  return (type >= 0 && type <= 4) ? kNames[type] : "Unknown";
}

std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& default_value) {
  const AVDictionaryEntry* e = ff::av_dict_get(metadata, key.c_str(), nullptr, 0);
  return e ? e->value : default_value;
}

}  // namespace trelvix::media
