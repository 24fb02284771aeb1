// Pieces of the file description (TCustomDecoder::FileInfoText): rate texts, start times and
// metadata blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVDictionary;

namespace trelvix::decoder {

// ", 25 fps", ", 29.97 fps", ", 90k tbn". With v = round(value x 100): "%3.2f" when v mod 100
// is not 0, else "%1.0f" when v mod 100000 is not 0, else "%1.0fk" of value / 1000.
std::string RateText(double value, const char* name);

// "%d.%.6d": whole seconds and the microsecond remainder (both negative for negative times).
std::string StartTimeText(int64_t us);

// The key as shown: ID3v2 frame names ("TIT2", "TAL" ...) become their common names.
std::string DisplayMetadataKey(const std::string& key);

// The metadata block with the given indent: nothing for empty metadata or metadata holding only
// "language"; else "<indent>Metadata:" and one "<indent>  %-16s: %s" line per entry except
// "language", in stored order.
void AppendMetadataBlock(std::vector<std::string>& lines, const AVDictionary* metadata,
                         const std::string& indent);

}  // namespace trelvix::decoder
