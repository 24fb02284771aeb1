#include "engine/ffmpeg_presets.h"

#include "engine/text_utils.h"

#include <strings.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

// Settings graded from the fastest ("ultrafast") to the slowest ("placebo"); the "_firstpass"
// rows keep a row's frame structure and cut the analysis for the first of two passes; the
// "lossless" rows encode with a constant quantiser of 0.
constexpr TOptionsPreset kPresets[] = {
    {"libx264-baseline", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n"},
    {"libx264-default",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=3\ndirectpred=1\ntrellis="
     "1\nflags2=+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-fast",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=6\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=2\ndirectpred=1\ntrellis="
     "1\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-fast_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-faster",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=4\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=2\ndirectpred=1\ntrellis="
     "1\nflags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\nwpredp=1\n"},
    {"libx264-faster_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=1\n"},
    {"libx264-fastfirstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\x01"},
    {"libx264-hq",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=umh\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=5\ndirectpred=3\ntrellis="
     "1\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-ipod320",
     "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0\n"},
    {"libx264-ipod640",
     "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate=10000000\nbufsize="
     "10000000\nwpredp=0\n"},
    {"libx264-lossless_fast",
     "coder=0\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=hex\nsubq=3\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=1\ndirectpred=1\ntrellis=0\nflags2=+mixed_refs+fastpskip\nwpredp="
     "0\ncqp=0\n"},
    {"libx264-lossless_max",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=esa\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=16\ndirectpred=1\ntrellis=1\nflags2=+mixed_refs+dct8x8-"
     "fastpskip\nwpredp=2\ncqp=0\n"},
    {"libx264-lossless_medium",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4-"
     "partb8x8\nme_method=hex\nsubq=5\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=2\ndirectpred=1\ntrellis=0\nflags2=+mixed_refs+fastpskip\nwpredp="
     "2\ncqp=0\n"},
    {"libx264-lossless_slow",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=umh\nsubq=6\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=2\ndirectpred=1\ntrellis=1\nflags2=+mixed_refs+dct8x8+"
     "fastpskip\nwpredp=2\ncqp=0\n"},
    {"libx264-lossless_slower",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=umh\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=4\ndirectpred=1\ntrellis=1\nflags2=+mixed_refs+dct8x8+"
     "fastpskip\nwpredp=2\ncqp=0\n"},
    {"libx264-lossless_ultrafast",
     "coder=0\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=0\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\nqmin="
     "0\nqmax=51\nqdiff=4\nrefs=1\ndirectpred=1\ntrellis=0\nflags2=+fastpskip\nwpredp=0\ncqp=0\n"},
    {"libx264-main", "flags2=-dct8x8\n"},
    {"libx264-max",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=esa\nsubq=10\nme_range=24\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=16\nrefs=16\ndirectpred="
     "3\ntrellis=2\nflags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\nwpredp=2\n"},
    {"libx264-medium",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=3\ndirectpred=1\ntrellis="
     "1\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-medium_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-normal",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=6\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=2\ndirectpred=3\ntrellis="
     "0\nflags2=+bpyramid+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-placebo",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=tesa\nsubq=10\nme_range=24\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=16\nrefs=16\ndirectpred="
     "3\ntrellis=2\nflags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\nwpredp=2\n"},
    {"libx264-placebo_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=tesa\nsubq=10\nme_range=24\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=16\nrefs=16\ndirectpred="
     "3\ntrellis=2\nflags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\nwpredp=2\n"},
    {"libx264-slow",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=umh\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=5\ndirectpred=3\ntrellis="
     "1\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-slow_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-slower",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=umh\nsubq=9\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=8\ndirectpred="
     "3\ntrellis=2\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-slower_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-slowfirstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-superfast",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4-partp8x8-partb8x8\nme_"
     "method=dia\nsubq=1\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred=1\ntrellis="
     "0\nflags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\nwpredp=0\n"},
    {"libx264-superfast_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=0\n"},
    {"libx264-ultrafast",
     "coder=0\nflags=-loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=0\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=0\ni_"
     "qfactor=0.71\nb_strategy=0\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=0\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip-mbtree\nwpredp=0\n"},
    {"libx264-ultrafast_firstpass",
     "coder=0\nflags=-loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=0\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=0\ni_"
     "qfactor=0.71\nb_strategy=0\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=0\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip-mbtree\nwpredp=0\n"},
    {"libx264-veryfast",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\nme_"
     "method=hex\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred=1\ntrellis="
     "0\nflags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\nwpredp=0\n"},
    {"libx264-veryfast_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=0\n"},
    {"libx264-veryslow",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4+"
     "partb8x8\nme_method=umh\nsubq=10\nme_range=24\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=8\nrefs=16\ndirectpred="
     "3\ntrellis=2\nflags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n"},
    {"libx264-veryslow_firstpass",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=2\nme_range=24\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=2\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=8\nrefs=1\ndirectpred="
     "3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\nwpredp=2\n"},
};

}  // namespace

std::span<const TOptionsPreset> BuiltinPresets() {
  return kPresets;
}

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
  for (const TOptionsPreset& p : kPresets)
    if (SameText(name, p.Name)) return &p;
  return nullptr;
}

void TCustomFFmpeg::ApplyPreset(const std::string& option, const std::string& preset) {
  if (option.empty() || preset.empty()) return;
  const char kind = option[0];
  std::string looked_up = preset;
  const TOptionsPreset* row = nullptr;
  if (kind != 'f') {
    row = FindBuiltinPreset(preset);
    if (!row) {
      std::string codec;
      if (kind == 'v' && !Fvideo_codec_name.empty())
        codec = Fvideo_codec_name;
      else if (kind == 'a' && !Faudio_codec_name.empty())
        codec = Faudio_codec_name;
      else if (!Fsubtitle_codec_name.empty())
        codec = Fsubtitle_codec_name;
      if (!codec.empty()) {
        const std::string qualified = codec + "-" + preset;
        if ((row = FindBuiltinPreset(qualified))) looked_up = qualified;
      }
    }
  }
  std::string text;
  if (row) {
    text = row->Value;
  } else {
    std::ifstream in(preset, std::ios::binary);
    if (!in) throw FFmpegException(runtime::Format(msg::kPresetNotFound, preset.c_str()));
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  const int kind_hint = kind == 'a' ? mkAudio : kind == 's' ? mkSubtitle : mkVideo;
  std::istringstream lines(NormaliseLineBreaks(TrimControls(text)));
  std::string line;
  while (std::getline(lines, line)) {
    line = TrimControls(line);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key.empty() || value.empty())
      throw FFmpegException(runtime::Format(msg::kPresetSyntax, looked_up.c_str(), line.c_str()));
    if (SameText(key, "acodec"))
      SetAudioCodec(value);
    else if (SameText(key, "vcodec"))
      SetVideoCodec(value);
    else if (SameText(key, "scodec"))
      SetSubtitleCodec(value);
    else if (!SetDefaultOptionFor(key, value, kind_hint))
      throw FFmpegException(runtime::Format(msg::kPresetOption, looked_up.c_str(), line.c_str(),
                                            key.c_str(), value.c_str()));
  }
}

}  // namespace trelvix::engine
