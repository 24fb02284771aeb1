// Burn-in benchmark: the cost of subtitles per frame, without the codecs around it.
//
//   trelvix-burnin-bench [frames]
//
// Plays 60 s (or the given number of frames) of a 1280x720 25 fps picture through what the
// conversion does for the subtitle file of the conversion benchmark (a two-line subtitle every
// 4 s, shown for 3 s): the handler's query, the conversion of the part it names into the hook's
// bitmap and back into a copy of the picture, and the handler laying the subtitle on. Also runs
// the same frames the way every frame went before the query existed (the whole picture
// converted, the subtitle laid on). Prints the time per frame of each, CPU time, and how often a
// subtitle was drawn. Steady enough to run under callgrind for instruction counts:
//   valgrind --tool=callgrind trelvix-burnin-bench 250
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "decoder/rgb_convert.h"
#include "media/ff_load.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "runtime/application.h"
#include "subtitles/subtitle_hook.h"

using namespace trelvix;

namespace {

constexpr int kWidth = 1280, kHeight = 720;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

subtitles::TSubtitleTimetable Timetable() {
  subtitles::TSubtitleTimetable t;
  for (int i = 0; i < 15; ++i)
    t.Append((1 + 4 * i) * 1000, QString::fromUtf8("Napis numer %1, pierwsza linia tekstu|"
                                                   "i druga linia, nieco dłuższa od pierwszej")
                                     .arg(i + 1));
  return t;
}

media::FramePtr Picture() {
  media::FramePtr f = media::MakeFrame();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = kWidth;
  f->height = kHeight;
  if (ff::av_frame_get_buffer(f.get(), 0) < 0) throw std::runtime_error("no memory");
  for (int p = 0; p < 3; ++p) {
    const int h = p == 0 ? kHeight : kHeight / 2, w = p == 0 ? kWidth : kWidth / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        f->data[p][y * f->linesize[p] + x] = uint8_t((x * 3 + y * 5) * (p + 1));
  }
  return f;
}

struct Run {
  double seconds = 0, cpu = 0;
  int drawn = 0, renders = 0;
};

// One pass over the frames; with the query, only frames and parts it names are converted.
Run Pass(int frames, bool query) {
  subtitles::TSubtitleSettings s;
  s.IQNapisow = false;
  s.NapisyCzas = 3;
  s.NapisyCzasTag = 3000;
  subtitles::TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Timetable(), s, 25);
  decoder::TRGBConvertContext ctx(24);
  media::FramePtr src = Picture(), work = media::MakeFrame();
  Run r;
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  for (int n = 1; n <= frames; ++n) {
    const int64_t pts = int64_t(n - 1) * 40000;
    bool stop = false, update = false;
    if (query) {
      const runtime::TRect area = hook.Prepare(kWidth, kHeight, pts, n, stop);
      if (area.Width() <= 0) continue;
      if (!ctx.ConvertRectToRGB(src.get(), area)) throw std::runtime_error("to RGB");
      update = hook.Process(*ctx.Bitmap(), pts, n, stop);
      if (update) {
        if (ff::av_frame_ref(work.get(), src.get()) < 0 ||
            ff::av_frame_make_writable(work.get()) < 0 || !ctx.ConvertRectFromRGB(work.get()))
          throw std::runtime_error("from RGB");
        ff::av_frame_unref(work.get());
      }
    } else {
      if (!ctx.ConvertToRGB(src.get(), false)) throw std::runtime_error("to RGB");
      update = hook.Process(*ctx.Bitmap(), pts, n, stop);
      if (update) {
        work->format = src->format;
        work->width = kWidth;
        work->height = kHeight;
        if (ff::av_frame_get_buffer(work.get(), 0) < 0) throw std::runtime_error("no memory");
        ctx.BitmapToRGB();
        if (!ctx.ConvertFromRGB(work.get())) throw std::runtime_error("from RGB");
        ff::av_frame_unref(work.get());
      }
    }
    r.drawn += update;
  }
  r.cpu = CpuSeconds() - c0;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.renders = hook.Renders();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 1500;
  if (frames <= 0) {
    std::printf("usage: %s [frames]\n", argv[0]);
    return 2;
  }
  if (!media::FFLoader().Load(media::kEncoderLibraries) || !runtime::EnsureGuiApplication()) {
    std::fprintf(stderr, "cannot load the media libraries or start the GUI application\n");
    return 1;
  }
  std::printf("%d frames of %dx%d\n%-22s %8s %8s %12s %8s %8s\n", frames, kWidth, kHeight, "pass",
              "wall s", "cpu s", "ms per frame", "drawn", "renders");
  for (const bool query : {false, true}) {
    const Run r = Pass(frames, query);
    std::printf("%-22s %8.3f %8.3f %12.3f %8d %8d\n",
                query ? "query, part converted" : "every frame converted", r.seconds, r.cpu,
                1000 * r.cpu / frames, r.drawn, r.renders);
  }
  return 0;
}
