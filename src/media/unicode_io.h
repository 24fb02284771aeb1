// Opening files by the names LibFileName gives: plain names go to the format library as they
// are; names in the "unicode:utf8:" form are opened by the suite and handed to the library as a
// custom AVIOContext over a POSIX file.
//
// The UnicodeIO object must outlive the format context that reads or writes through it: declare
// the UnicodeIOPtr member before the context member, so the context is closed first.
#pragma once

#include <memory>
#include <string>

#include "media/ff_ptr.h"

namespace trelvix::media {

struct UnicodeIO;
struct UnicodeIODeleter {
  void operator()(UnicodeIO* io) const;
};
using UnicodeIOPtr = std::unique_ptr<UnicodeIO, UnicodeIODeleter>;

// Opens a "unicode:utf8:" name with AVIO_FLAG_READ, AVIO_FLAG_WRITE or both; null and *err set to
// a library error code on failure (AVERROR(ENOENT) when the file cannot be opened).
UnicodeIOPtr OpenUnicodeIO(const std::string& lib_name, int avio_flags, int* err);
AVIOContext* UnicodeIOContext(UnicodeIO* io);

// avformat_open_input for either name form. On success ctx owns the opened context and io holds
// the custom I/O (if any); on failure both are empty and the library error code is returned.
// With interrupt, the context has that interrupt callback from the start, so that opening and
// probing can be abandoned; a FIFO is then read without blocking, with the same callback asked
// while it has no data.
int OpenInputFile(InputFormatPtr& ctx, UnicodeIOPtr& io, const std::string& lib_name,
                  const AVInputFormat* fmt, AVDictionary** options,
                  const AVIOInterruptCB* interrupt = nullptr);

// Opens the output file of a muxer context: avio_open for plain names, the custom I/O for the
// unicode form (the context is then marked AVFMT_FLAG_CUSTOM_IO). Returns 0 or an error code.
int OpenOutputIO(AVFormatContext* oc, UnicodeIOPtr& io, const std::string& lib_name);

}  // namespace trelvix::media
