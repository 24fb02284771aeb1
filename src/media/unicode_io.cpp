#include "media/unicode_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "media/ff_utils.h"

namespace trelvix::media {

struct UnicodeIO {
  int fd = -1;
  AVIOContext* avio = nullptr;
  // For a non-blocking descriptor (a FIFO): a read without data waits in steps and asks this
  // callback between them whether to give up.
  AVIOInterruptCB interrupt{};
};

namespace {

constexpr int kBufferSize = 64 * 1024;

constexpr int kPollStepMs = 50;

int ReadPacket(void* opaque, uint8_t* buf, int size) {
  auto* io = static_cast<UnicodeIO*>(opaque);
  for (;;) {
    const ssize_t n = ::read(io->fd, buf, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return AVERROR_EOF;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return AVERROR(errno);
    if (io->interrupt.callback && io->interrupt.callback(io->interrupt.opaque)) return AVERROR_EXIT;
    pollfd p{io->fd, POLLIN, 0};
    ::poll(&p, 1, kPollStepMs);
  }
}

int WritePacket(void* opaque, uint8_t* buf, int size) {
  auto* io = static_cast<UnicodeIO*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(io->fd, buf + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<int>(n);
  }
  return done;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<UnicodeIO*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st {};
    return ::fstat(io->fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }
  const off_t r = ::lseek(io->fd, offset, whence & ~AVSEEK_FORCE);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

}  // namespace

void UnicodeIODeleter::operator()(UnicodeIO* io) const {
  if (io->avio) {
    if (io->avio->write_flag) ff::avio_flush(io->avio);
    ff::av_freep(&io->avio->buffer);
    ff::avio_context_free(&io->avio);
  }
  if (io->fd >= 0) ::close(io->fd);
  delete io;
}

namespace {

bool IsFifo(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

UnicodeIOPtr OpenFileIO(const std::string& path, int avio_flags, int extra_oflags, int* err) {
  int oflags = O_RDONLY;
  if ((avio_flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    oflags = O_RDWR | O_CREAT | O_TRUNC;
  else if (avio_flags & AVIO_FLAG_WRITE)
    oflags = O_WRONLY | O_CREAT | O_TRUNC;
  UnicodeIOPtr io(new UnicodeIO);
  io->fd = ::open(path.c_str(), oflags | extra_oflags | O_CLOEXEC, 0666);
  if (io->fd < 0) {
    *err = AVERROR(ENOENT);
    return nullptr;
  }
  auto* buffer = static_cast<unsigned char*>(ff::av_malloc(kBufferSize));
  if (!buffer) {
    *err = AVERROR(ENOMEM);
    return nullptr;
  }
  const bool writing = (avio_flags & AVIO_FLAG_WRITE) != 0;
  io->avio = ff::avio_alloc_context(buffer, kBufferSize, writing ? 1 : 0, io.get(), &ReadPacket,
                                    writing ? &WritePacket : nullptr, &Seek);
  if (!io->avio) {
    ff::av_free(buffer);
    *err = AVERROR(ENOMEM);
    return nullptr;
  }
  *err = 0;
  return io;
}

}  // namespace

UnicodeIOPtr OpenUnicodeIO(const std::string& lib_name, int avio_flags, int* err) {
  return OpenFileIO(WideFileName(lib_name), avio_flags, 0, err);
}

AVIOContext* UnicodeIOContext(UnicodeIO* io) {
  return io ? io->avio : nullptr;
}

int OpenInputFile(InputFormatPtr& ctx, UnicodeIOPtr& io, const std::string& lib_name,
                  const AVInputFormat* fmt, AVDictionary** options,
                  const AVIOInterruptCB* interrupt) {
  ctx.reset();
  io.reset();
  AVFormatContext* raw = nullptr;
  const char* url = lib_name.c_str();
  UnicodeIOPtr custom;
  int err = 0;
  if (IsUnicodeName(lib_name)) {
    custom = OpenUnicodeIO(lib_name, AVIO_FLAG_READ, &err);
    if (!custom) return err;
  } else if (interrupt && IsFifo(lib_name)) {
    // The library's file reader blocks in the kernel on a FIFO that has no data (or no writer
    // yet), where no interrupt reaches it; read it without blocking instead.
    custom = OpenFileIO(lib_name, AVIO_FLAG_READ, O_NONBLOCK, &err);
    if (!custom) return err;
    custom->avio->seekable = 0;
  }
  if (custom || interrupt) {
    raw = ff::avformat_alloc_context();
    if (!raw) return AVERROR(ENOMEM);
  }
  if (interrupt) {
    raw->interrupt_callback = *interrupt;
    if (custom) custom->interrupt = *interrupt;
  }
  if (custom) {
    raw->pb = custom->avio;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // On failure avformat_open_input frees the context it was given.
  const int ret = ff::avformat_open_input(&raw, url, fmt, options);
  if (ret < 0) return ret;
  io = std::move(custom);
  ctx.reset(raw);
  return 0;
}

int OpenOutputIO(AVFormatContext* oc, UnicodeIOPtr& io, const std::string& lib_name) {
  if (IsUnicodeName(lib_name)) {
    int err = 0;
    io = OpenUnicodeIO(lib_name, AVIO_FLAG_WRITE, &err);
    if (!io) return err;
    oc->pb = io->avio;
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    return 0;
  }
  return ff::avio_open(&oc->pb, lib_name.c_str(), AVIO_FLAG_WRITE);
}

}  // namespace trelvix::media
