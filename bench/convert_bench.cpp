// Conversion benchmark.
//
//   trelvix-convert-bench [work folder] [Hi|Lo|1080] [bare|engine|burnin] [serial]
//
// The optional set and run names limit the benchmark to those cases (for profiling one of them).
// The set "1080" (run only when named) converts a 20-second 1920x1080 clip at the Hi settings, for
// the peak memory at that size. "serial" turns the engine's overlap of decoding and encoding off.
//
// Makes a 60-second 1280x720 25 fps H.264 + AAC clip once (kept in the work folder, default
// /tmp/trelvix-bench), then converts it with the Hi and the Lo iPhone settings, through the
// engine (TCustomFFmpeg on its worker thread), through the engine burning in subtitles from a
// SubRip file (a two-line subtitle every 4 s, each shown for 3 s: three quarters of the frames
// carry one), and through a bare loop written here (demux, decode, scale to 480x320, encode
// video and audio with the very same encoder settings, no muxing): the cost of the codecs alone.
// Each case runs three times, in turn with the others, and its shortest time counts, since other
// work on the machine only ever lengthens a run. Each run is a child process, so its peak memory
// is its own. Prints frames per second, CPU time, CPU use (CPU time over wall time: 200% keeps
// both cores of a two-core machine busy), peak resident memory and the time ratios per quality
// level.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_thread.h"
#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "runtime/application.h"
#include "subtitles/option_model.h"
#include "subtitles/subtitle_hook.h"

using namespace trelvix;

namespace {

constexpr int kRepeats = 3;

class BenchEngine : public engine::TCustomFFmpeg {
 public:
  BenchEngine() { ResetState(); }
  engine::TOutputStreamSetup& Stream(int i) { return Foutput_files[0]->streams[i]; }
  AVFormatContext* Input() { return Finput_files[0].ctx.get(); }
};

void Configure(BenchEngine& e, const std::string& in, const std::string& out, bool hi) {
  e.SetVerbose(-1);
  if (!e.OpenInputFile(in)) throw std::runtime_error(e.LastErrMsg());
  e.SetOption("f", "ipod");
  e.SetOption("vcodec", "libx264");
  e.SetOption("acodec", "libfaac");
  e.SetOption("s", "480x320");
  e.SetOption("r", "25");
  e.SetOption("b", hi ? "600000" : "400000");
  e.SetOption("bt", hi ? "250000" : "96000");
  e.SetOption("ab", hi ? "128000" : "96000");
  e.SetOption("ac", "2");
  e.ApplyPreset("vpre", hi ? "default" : "fastfirstpass");
  e.SetSubtitleDisable(true);
  if (e.OpenOutputFile(out) <= 0) throw std::runtime_error(e.LastErrMsg());
}

// The subtitle file of the burn-in case: from 1 s on, a two-line subtitle every 4 s.
void WriteSubRip(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  for (int i = 0; i < 15; ++i) {
    const int from = 1 + 4 * i;
    std::fprintf(f,
                 "%d\n00:00:%02d,000 --> 00:00:%02d,000\nNapis numer %d, pierwsza linia tekstu\n"
                 "i druga linia, nieco dłuższa od pierwszej\n\n",
                 i + 1, from, from + 3, i + 1);
  }
  std::fclose(f);
}

// Frames converted by the engine; with a subtitle file, burning it in through the input video
// hook the way the headless converter does, with a fixed display time of 3 s.
int RunEngine(const std::string& in, const std::string& out, bool hi, bool overlap,
              const std::string& subtitle_file = {}) {
  BenchEngine e;
  Configure(e, in, out, hi);
  e.SetOverlapEncoding(overlap);
  subtitles::TSubtitleHook burn_in;
  int subtitled = 0;  // frames that carry a subtitle (conversion thread, read after it ended)
  if (!subtitle_file.empty()) {
    if (!runtime::EnsureGuiApplication()) throw std::runtime_error("no GUI application");
    subtitles::TOptionModel model;
    model.SetFrameRate(25);
    model.SetIQNapisow(false);
    model.SetNapisyCzas(3);
    if (!model.LoadTXT(QString::fromStdString(subtitle_file)).Loaded)
      throw std::runtime_error("cannot load " + subtitle_file);
    burn_in.StartConversion(model.TimeTXTEditor(), model.Settings(), model.FrameRate());
    burn_in.SetSubtitlesOn(true);
    e.SetOnInputVideoHookQuery(
        [&](runtime::TObject*, int width, int height, int number, int64_t pts, bool& stop) {
          const runtime::TRect area = burn_in.Prepare(width, height, pts, number, stop);
          if (area.Width() > 0) ++subtitled;
          return runtime::TDrawArea(area, burn_in.PreparedOverlay());
        });
    e.SetOnInputVideoHook(
        [&](runtime::TObject*, runtime::TBitmap* bitmap, int number, int64_t pts, bool& update,
            bool& stop) { update = burn_in.Process(*bitmap, pts, number, stop); });
  }
  std::atomic<int> frames = 0;
  e.SetOnProgress([&](runtime::TObject*, int, int frame, int, float, float, int64_t, int64_t,
                      int64_t) { frames = frame; });
  engine::TConvertThread* t = e.StartConvert(true);
  t->Start();
  while (!e.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  e.Stop(true);
  if (!e.Finished()) throw std::runtime_error(e.FatalMessage());
  if (!subtitle_file.empty())
    std::fprintf(stderr, "burn-in: %d of %d frames carry a subtitle\n", subtitled, frames.load());
  return frames;
}

// The bare loop: the engine only configures the encoders (so the settings are identical); the
// loop opens and drives them itself.
int RunBare(const std::string& in, const std::string& out, bool hi) {
  BenchEngine e;
  Configure(e, in, out, hi);
  AVCodecContext* venc = e.Stream(0).codec.get();
  AVCodecContext* aenc = e.Stream(1).codec.get();
  if (ff::avcodec_open2(venc, e.Stream(0).encoder, nullptr) < 0 ||
      ff::avcodec_open2(aenc, e.Stream(1).encoder, nullptr) < 0)
    throw std::runtime_error("cannot open the encoders");
  AVFormatContext* ic = e.Input();
  media::CodecContextPtr dec[2];
  int vs = -1, as = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters* par = ic->streams[i]->codecpar;
    const int k = par->codec_type == AVMEDIA_TYPE_VIDEO ? 0 : 1;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
      vs = static_cast<int>(i);
    else if (par->codec_type == AVMEDIA_TYPE_AUDIO)
      as = static_cast<int>(i);
    else
      continue;
    const AVCodec* c = ff::avcodec_find_decoder(par->codec_id);
    dec[k].reset(ff::avcodec_alloc_context3(c));
    ff::avcodec_parameters_to_context(dec[k].get(), par);
    dec[k]->thread_count = 0;
    if (ff::avcodec_open2(dec[k].get(), c, nullptr) < 0) throw std::runtime_error("decoder");
  }
  media::SwsPtr sws;
  media::SwrPtr swr;
  media::FramePtr frame = media::MakeFrame(), scaled = media::MakeFrame(),
                  aframe = media::MakeFrame();
  scaled->format = venc->pix_fmt;
  scaled->width = venc->width;
  scaled->height = venc->height;
  ff::av_frame_get_buffer(scaled.get(), 0);
  media::AudioFifoPtr fifo(
      ff::av_audio_fifo_alloc(aenc->sample_fmt, aenc->ch_layout.nb_channels, 4096));
  media::PacketPtr pkt = media::MakePacket(), opkt = media::MakePacket();
  int64_t vpts = 0, apts = 0;
  int frames = 0;
  uint8_t** conv = nullptr;
  int conv_size = 0;
  const auto drain = [&](AVCodecContext* enc) {
    while (ff::avcodec_receive_packet(enc, opkt.get()) == 0) ff::av_packet_unref(opkt.get());
  };
  const auto encode_audio = [&](bool last) {
    while (ff::av_audio_fifo_size(fifo.get()) >= aenc->frame_size ||
           (last && ff::av_audio_fifo_size(fifo.get()) > 0)) {
      const int n = std::min(aenc->frame_size, ff::av_audio_fifo_size(fifo.get()));
      ff::av_frame_unref(aframe.get());
      aframe->nb_samples = n;
      aframe->format = aenc->sample_fmt;
      ff::av_channel_layout_copy(&aframe->ch_layout, &aenc->ch_layout);
      aframe->sample_rate = aenc->sample_rate;
      ff::av_frame_get_buffer(aframe.get(), 0);
      ff::av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(aframe->data), n);
      aframe->pts = apts;
      apts += n;
      ff::avcodec_send_frame(aenc, aframe.get());
      drain(aenc);
    }
  };
  const auto handle = [&](int k) {
    while (ff::avcodec_receive_frame(dec[k].get(), frame.get()) == 0) {
      if (k == 0) {
        if (!sws) sws.reset(ff::sws_alloc_context());
        static bool inited = false;
        if (!inited) {
          ff::av_opt_set_int(sws.get(), "srcw", frame->width, 0);
          ff::av_opt_set_int(sws.get(), "srch", frame->height, 0);
          ff::av_opt_set_int(sws.get(), "src_format", frame->format, 0);
          ff::av_opt_set_int(sws.get(), "dstw", venc->width, 0);
          ff::av_opt_set_int(sws.get(), "dsth", venc->height, 0);
          ff::av_opt_set_int(sws.get(), "dst_format", venc->pix_fmt, 0);
          ff::av_opt_set_int(sws.get(), "sws_flags", SWS_BICUBIC, 0);
          ff::sws_init_context(sws.get(), nullptr, nullptr);
          inited = true;
        }
        ff::av_frame_make_writable(scaled.get());
        ff::sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, scaled->data,
                      scaled->linesize);
        scaled->pts = vpts++;
        ff::avcodec_send_frame(venc, scaled.get());
        drain(venc);
        ++frames;
      } else {
        if (!swr) {
          SwrContext* s = nullptr;
          ff::swr_alloc_set_opts2(&s, &aenc->ch_layout, aenc->sample_fmt, aenc->sample_rate,
                                  &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                  frame->sample_rate, 0, nullptr);
          ff::swr_init(s);
          swr.reset(s);
        }
        const int need = frame->nb_samples * 2 + 256;
        if (need > conv_size) {
          if (conv) {
            ff::av_freep(&conv[0]);
            ff::av_freep(&conv);
          }
          conv = static_cast<uint8_t**>(ff::av_mallocz(8 * sizeof(uint8_t*)));
          ff::av_samples_alloc(conv, nullptr, aenc->ch_layout.nb_channels, need, aenc->sample_fmt,
                               0);
          conv_size = need;
        }
        const int got =
            ff::swr_convert(swr.get(), conv, conv_size,
                            const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (got > 0) ff::av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(conv), got);
        encode_audio(false);
      }
      ff::av_frame_unref(frame.get());
    }
  };
  while (ff::av_read_frame(ic, pkt.get()) >= 0) {
    const int k = pkt->stream_index == vs ? 0 : pkt->stream_index == as ? 1 : -1;
    if (k >= 0) {
      ff::avcodec_send_packet(dec[k].get(), pkt.get());
      handle(k);
    }
    ff::av_packet_unref(pkt.get());
  }
  for (int k = 0; k < 2; ++k) {
    ff::avcodec_send_packet(dec[k].get(), nullptr);
    handle(k);
  }
  encode_audio(true);
  ff::avcodec_send_frame(venc, nullptr);
  drain(venc);
  ff::avcodec_send_frame(aenc, nullptr);
  drain(aenc);
  if (conv) {
    ff::av_freep(&conv[0]);
    ff::av_freep(&conv);
  }
  return frames;
}

struct Result {
  double seconds = 0;      // wall-clock time
  double cpu_seconds = 0;  // user + system time of all the run's threads
  double cpu_use() const { return seconds > 0 ? 100 * cpu_seconds / seconds : 0; }
  int frames = 0;
  long peak_kb = 0;
};

// The better of two runs of one case: the shorter time (others on the machine only ever add
// to it), the larger peak memory.
Result Best(const Result& a, const Result& b) {
  if (a.frames == 0) return b;
  Result r = a.seconds <= b.seconds ? a : b;
  r.cpu_seconds = std::min(a.cpu_seconds, b.cpu_seconds);
  r.peak_kb = std::max(a.peak_kb, b.peak_kb);
  return r;
}

// Runs fn in a child process; its time, frames and peak resident memory.
template <class F>
Result InChild(F fn) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Result r;
    const auto t0 = std::chrono::steady_clock::now();
    try {
      r.frames = fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
      _exit(1);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (write(fds[1], &r, sizeof r) != sizeof r) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  Result r;
  const bool got = read(fds[0], &r, sizeof r) == sizeof r;
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("benchmark run failed");
  r.peak_kb = ru.ru_maxrss;
  r.cpu_seconds =
      ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("usage: %s [work folder] [Hi|Lo|1080] [bare|engine|burnin] [serial]\n", argv[0]);
    return 0;
  }
  const std::filesystem::path dir = argc > 1 ? argv[1] : "/tmp/trelvix-bench";
  const std::string only_set = argc > 2 ? argv[2] : "";
  const std::string only_run = argc > 3 ? argv[3] : "";
  // "serial": the engine encodes video on its conversion thread, one step after the other.
  const bool overlap = !(argc > 4 && std::strcmp(argv[4], "serial") == 0);
  std::filesystem::create_directories(dir);
  if (!media::FFLoader().Load(media::kEncoderLibraries)) {
    std::fprintf(stderr, "cannot load the media libraries\n");
    return 1;
  }
  const auto make_clip = [&](const char* file, int width, int height, double seconds) {
    const std::string path = (dir / file).string();
    if (std::filesystem::exists(path)) return path;
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    fixtures::ClipSpec s = fixtures::Preset("mp4");
    s.width = width;
    s.height = height;
    s.seconds = seconds;
    s.threads = 0;
    const std::string tmp = path + ".part.mp4";
    fixtures::MakeClip(tmp, s);
    std::filesystem::rename(tmp, path);
    return path;
  };
  const std::string clip = make_clip("bench_720p_60s.mp4", 1280, 720, 60);
  const std::string srt = (dir / "bench_subtitles.srt").string();
  WriteSubRip(srt);
  std::printf("Each case runs %d times, the cases in turn; the best time counts.\n", kRepeats);
  std::printf("%-4s %-7s %8s %8s %8s %9s %7s %10s\n", "set", "run", "frames", "wall s", "fps",
              "cpu s", "cpu %", "peak MiB");
  // "1080": a 20 s 1920x1080 clip at Hi, for the peak memory of the engine at that size.
  for (const char* name : {"Hi", "Lo", "1080"}) {
    const bool hi = std::strcmp(name, "Lo") != 0;
    const bool full_hd = std::strcmp(name, "1080") == 0;
    if (only_set.empty() ? full_hd : only_set != name) continue;
    const std::string in = full_hd ? make_clip("bench_1080p_20s.mp4", 1920, 1080, 20) : clip;
    const std::string out = (dir / (std::string("out_") + name + ".mp4")).string();
    Result bare, eng, burn;
    for (int i = 0; i < kRepeats; ++i) {
      if (only_run.empty() || only_run == "bare")
        bare = Best(bare, InChild([&] { return RunBare(in, out, hi); }));
      if (only_run.empty() || only_run == "engine")
        eng = Best(eng, InChild([&] { return RunEngine(in, out, hi, overlap); }));
      if (only_run.empty() || only_run == "burnin")
        burn = Best(burn, InChild([&] { return RunEngine(in, out, hi, overlap, srt); }));
    }
    for (const auto& [label, r] :
         {std::pair{"bare", bare}, std::pair{"engine", eng}, std::pair{"burnin", burn}})
      if (r.frames > 0)
        std::printf("%-4s %-7s %8d %8.2f %8.1f %9.2f %7.0f %10.1f\n", name, label, r.frames,
                    r.seconds, r.frames / r.seconds, r.cpu_seconds, r.cpu_use(),
                    r.peak_kb / 1024.0);
    if (bare.frames > 0 && eng.frames > 0)
      std::printf("%-4s engine/bare time ratio %.3f (target <= 0.90), cpu time ratio %.3f\n", name,
                  eng.seconds / bare.seconds, eng.cpu_seconds / bare.cpu_seconds);
    if (eng.frames > 0 && burn.frames > 0)
      std::printf("%-4s burnin/engine time ratio %.3f (target <= 1.10), cpu time ratio %.3f\n",
                  name, burn.seconds / eng.seconds, burn.cpu_seconds / eng.cpu_seconds);
    std::fflush(stdout);
  }
  return 0;
}
