// Transcode: the stream tables, the mapping of input to output streams, codec preparation and
// opening, headers, the mapping log and the tear-down. The packet loop is ffmpeg_pipeline.cpp.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "runtime/file_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

using media::llError;
using media::llInfo;
using media::llVerbose;
using runtime::Format;

int64_t NowUs() {
  return ff::av_gettime();
}

// Appends the chapters of `ic` to `oc`, shifted back by `offset` (microseconds) and, with a
// recording limit, those that start within it, cut at it.
void CopyChapters(const AVFormatContext& ic, int64_t offset, int64_t recording_time,
                  AVFormatContext& oc) {
  const AVRational us{1, AV_TIME_BASE};
  for (unsigned i = 0; i < ic.nb_chapters; ++i) {
    const AVChapter& in = *ic.chapters[i];
    const int64_t ts_off = ff::av_rescale_q(offset, us, in.time_base);
    const int64_t rt = recording_time != INT64_MAX
                           ? ff::av_rescale_q(recording_time, us, in.time_base)
                           : INT64_MAX;
    if (in.end < ts_off) continue;
    if (rt != INT64_MAX && in.start > rt + ts_off) break;
    auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!out) throw FFmpegException(msg::kMallocFail);
    out->id = in.id;
    out->time_base = in.time_base;
    out->start = std::max<int64_t>(0, in.start - ts_off);
    out->end = std::min(rt, in.end - ts_off);
    if (ff::av_dict_copy(&out->metadata, in.metadata, 0) < 0) {
      ff::av_dict_free(&out->metadata);
      ff::av_free(out);
      throw FFmpegException(msg::kMallocFail);
    }
    void* grown = ff::av_realloc(oc.chapters, sizeof(AVChapter*) * (oc.nb_chapters + 1));
    if (!grown) {
      ff::av_dict_free(&out->metadata);
      ff::av_free(out);
      throw FFmpegException(msg::kReallocFail);
    }
    // The context owns its chapters from here on and frees them with itself.
    oc.chapters = static_cast<AVChapter**>(grown);
    oc.chapters[oc.nb_chapters++] = out;
  }
}

// A styled (ass/ssa) source carries its style header as the stream's extra data: the text
// encoder starts from it instead of the default header, so the cues keep their styles.
void KeepSourceStyles(AVCodecContext* enc, const AVStream& source) {
  const AVCodecParameters* par = source.codecpar;
  if ((par->codec_id != AV_CODEC_ID_ASS && par->codec_id != AV_CODEC_ID_SSA) ||
      par->extradata_size <= 0)
    return;
  const AVCodecDescriptor* desc = ff::avcodec_descriptor_get(enc->codec_id);
  if (!desc || !(desc->props & AV_CODEC_PROP_TEXT_SUB)) return;
  auto* header = static_cast<uint8_t*>(ff::av_mallocz(par->extradata_size + 1));
  if (!header) throw FFmpegException(msg::kMallocFail);
  std::memcpy(header, par->extradata, par->extradata_size);
  ff::av_freep(&enc->subtitle_header);
  enc->subtitle_header = header;
  enc->subtitle_header_size = par->extradata_size;
}

}  // namespace

TTranscodeState::~TTranscodeState() {
  // An encode worker still running (a job that failed or stopped midway) gives up first.
  for (auto& o : ost) o->encode_worker.reset();
  // Encoders, then decoders, each closed under the codec lock.
  std::lock_guard lock(media::CodecLock());
  for (auto& o : ost) {
    if (o->opened && o->enc) {
      ff::av_freep(&o->enc->stats_in);
      // The context stays with the output stream set-up; freeing its codec state now keeps the
      // close under the lock.
      media::CodecContextPtr dead(o->setup->codec.release());
      o->enc = nullptr;
    }
  }
  for (auto& i : ist) i->dec.reset();
}

void TCustomFFmpeg::LogSdp() {
  const int n = FJoinMode ? 1 : Fnb_output_files;
  std::vector<AVFormatContext*> ctxs;
  for (int j = 0; j < n; ++j) {
    AVFormatContext* oc = Foutput_files[j]->ctx.get();
    if (!oc->oformat || std::strcmp(oc->oformat->name, "rtp") != 0) return;
    ctxs.push_back(oc);
  }
  if (ctxs.empty()) return;
  char sdp[2048] = {};
  if (ff::av_sdp_create(ctxs.data(), static_cast<int>(ctxs.size()), sdp, sizeof sdp) < 0) return;
  std::string text(sdp);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  LogF(llInfo, "%s%s", msg::kSdpHeader, text.c_str());
}

void TCustomFFmpeg::TRunDeleter::operator()(TTranscodeState* r) const {
  delete r;
}

void TCustomFFmpeg::Transcode() {
  std::unique_ptr<TTranscodeState, TRunDeleter> run(new TTranscodeState);
  TranscodeSetup(*run);
  TranscodeLoop(*run);
}

void TCustomFFmpeg::TranscodeSetup(TTranscodeState& r) {
  r.pkt = media::MakePacket();
  for (auto& f : r.hook_frames) {
    f = media::MakeFrame();
    if (!f) throw FFmpegException(msg::kMallocFail);
  }
  r.out_hook_frame = media::MakeFrame();
  r.deinterlaced = media::MakeFrame();
  if (!r.pkt || !r.out_hook_frame || !r.deinterlaced) throw FFmpegException(msg::kMallocFail);
  r.in_rgb.ResetRGBContext(FVideoHookBitsPixel);
  r.out_rgb.ResetRGBContext(FVideoHookBitsPixel);

  // 1. Input tables.
  int nb_ist = 0;
  for (int i = 0; i < Fnb_input_files; ++i) {
    AVFormatContext* ic = Finput_files[i].ctx.get();
    TAVInputFile f;
    f.ist_index = nb_ist;
    f.nb_streams = static_cast<int>(ic->nb_streams);
    nb_ist += f.nb_streams;
    r.input_files.push_back(f);
    for (unsigned k = 0; k < ic->nb_streams; ++k) {
      auto ist = std::make_unique<TAVInputStream>();
      ist->file_index = i;
      ist->index = static_cast<int>(k);
      ist->st = ic->streams[k];
      ist->discard = true;
      if (ist->st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        ist->rotation.SetRotation(decoder::StreamDisplayRotation(ist->st));
        if (ist->rotation.Active() && !(ist->rotated = media::MakeFrame()))
          throw FFmpegException(msg::kMallocFail);
      }
      if (Frate_emu) ist->start = NowUs();
      r.ist.push_back(std::move(ist));
    }
  }

  // 2. Output table. In join mode every entry is the same file; the segment width is the
  // stream count of entry 0.
  const int nb_entries = Fnb_output_files;
  int nb_ost = 0;
  for (int j = 0; j < nb_entries; ++j) {
    TOutputFile* of = Foutput_files[j];
    if (of->streams.empty()) {
      ff::av_dump_format(of->ctx.get(), j, of->file_name.c_str(), 1);
      throw FFmpegException(Format(msg::kNoStreamInOutput, j));
    }
    nb_ost += static_cast<int>(of->streams.size());
  }
  if (!Fstream_maps.empty() && static_cast<int>(Fstream_maps.size()) != nb_ost)
    throw FFmpegException(msg::kStreamMapCount);
  for (const TStreamMap& m : Fstream_maps) {
    if (m.file_index < 0 || m.file_index >= Fnb_input_files || m.stream_index < 0 ||
        m.stream_index >= r.input_files[m.file_index].nb_streams)
      throw FFmpegException(Format(msg::kNoInputStream, m.file_index, m.stream_index));
    if (m.sync_file_index < 0 || m.sync_file_index >= Fnb_input_files || m.sync_stream_index < 0 ||
        m.sync_stream_index >= r.input_files[m.sync_file_index].nb_streams)
      throw FFmpegException(Format(msg::kNoSyncStream, m.sync_file_index, m.sync_stream_index));
  }

  // 3. Mapping.
  int n = 0;
  for (int j = 0; j < nb_entries; ++j) {
    TOutputFile* of = Foutput_files[j];
    for (size_t k = 0; k < of->streams.size(); ++k, ++n) {
      auto ost = std::make_unique<TAVOutputStream>();
      ost->file_index = j;
      ost->index = static_cast<int>(k);
      ost->setup = &of->streams[k];
      ost->st = of->streams[k].st;
      ost->enc = of->streams[k].codec.get();
      ost->pkt = media::MakePacket();
      if (!ost->pkt) throw FFmpegException(msg::kMallocFail);
      const AVMediaType type = ost->enc->codec_type;
      if (!Fstream_maps.empty()) {
        const TStreamMap& m = Fstream_maps[n];
        const int src = r.input_files[m.file_index].ist_index + m.stream_index;
        const AVMediaType itype = r.ist[src]->st->codecpar->codec_type;
        if (itype != type) {
          ff::av_dump_format(of->ctx.get(), j, of->file_name.c_str(), 1);
          throw FFmpegException(Format(msg::kTypeMismatch, m.file_index, m.stream_index,
                                       TypeName(itype).c_str(), j, static_cast<int>(k),
                                       TypeName(type).c_str()));
        }
        ost->source_index = src;
        ost->sync_index = r.input_files[m.sync_file_index].ist_index + m.sync_stream_index;
      } else {
        int best = -1;
        int64_t best_frames = -1;
        for (size_t i = 0; i < r.ist.size(); ++i) {
          const TAVInputStream& ist = *r.ist[i];
          if (!ist.discard || ist.st->discard >= AVDISCARD_ALL) continue;
          if (ist.st->codecpar->codec_type != type) continue;
          if (FJoinMode && ist.file_index != j) continue;
          if (Fopt_programid != 0) {
            bool in_program = false;
            AVFormatContext* ic = Finput_files[ist.file_index].ctx.get();
            for (unsigned p = 0; p < ic->nb_programs && !in_program; ++p) {
              if (ic->programs[p]->id != Fopt_programid) continue;
              for (unsigned q = 0; q < ic->programs[p]->nb_stream_indexes; ++q)
                in_program =
                    in_program || static_cast<int>(ic->programs[p]->stream_index[q]) == ist.index;
            }
            if (!in_program) continue;
          }
          // The stream with the most frames; ties go to the first. (The probe's own frame count
          // is private to the library now; the container's count stands in for it.)
          const int64_t frames = std::max<int64_t>(ist.st->nb_frames, 0);
          if (frames > best_frames) {
            best_frames = frames;
            best = static_cast<int>(i);
          }
        }
        if (best < 0 && Fopt_programid == 0 && !FJoinMode) {
          for (size_t i = 0; i < r.ist.size(); ++i)
            if (r.ist[i]->st->codecpar->codec_type == type && r.ist[i]->st->discard < AVDISCARD_ALL)
              best = static_cast<int>(i);
        }
        if (best < 0) {
          ff::av_dump_format(of->ctx.get(), j, of->file_name.c_str(), 1);
          throw FFmpegException(
              Format(msg::kNoMatchingStream, j, static_cast<int>(k), TypeName(type).c_str()));
        }
        ost->source_index = best;
        ost->sync_index = best;
      }
      r.ist[ost->source_index]->discard = false;
      ost->show_fps = true;
      r.ost.push_back(std::move(ost));
    }
  }

  // 4. Codec preparation.
  for (auto& op : r.ost) {
    TAVOutputStream& ost = *op;
    TAVInputStream& ist = *r.ist[ost.source_index];
    AVCodecContext* enc = ost.enc;
    const AVCodecParameters* ipar = ist.st->codecpar;
    AVStream* st = ost.st;
    ff::av_dict_copy(&st->metadata, ist.st->metadata, AV_DICT_DONT_OVERWRITE);
    st->disposition = ist.st->disposition;
    enc->bits_per_raw_sample = ipar->bits_per_raw_sample;
    enc->chroma_sample_location = ipar->chroma_location;

    if (ost.setup->stream_copy) {
      if (static_cast<int64_t>(ipar->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
        throw FFmpegException(msg::kExtradataTooLarge);
      if (ipar->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (Faudio_volume != 256) throw FFmpegException(msg::kCopyVol);
        if (FOnAudioHook) throw FFmpegException(msg::kCopyAudioHook);
      } else if (ipar->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (FOnInputVideoHook || FOnOutputVideoHook) throw FFmpegException(msg::kCopyVideoHook);
        if (Fusing_vhook) throw FFmpegException(msg::kCopyVhook);
        if (PostHooks() != 0) throw FFmpegException(msg::kCopyPostHooks);
      } else if (ipar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        throw FFmpegException(msg::kInvalidOutCodecType);
      }
      const uint32_t tag = st->codecpar->codec_tag;
      if (ff::avcodec_parameters_copy(st->codecpar, ipar) < 0)
        throw FFmpegException(msg::kMallocFail);
      // The input's tag goes only where the output format does not give it another meaning.
      const AVOutputFormat* ofmt = Foutput_files[ost.file_index]->ctx->oformat;
      uint32_t out_tag = tag;
      if (!out_tag) {
        out_tag = ipar->codec_tag;
        if (ofmt->codec_tag) {
          const AVCodecID by_tag = ff::av_codec_get_id(ofmt->codec_tag, ipar->codec_tag);
          if (by_tag != ipar->codec_id && ff::av_codec_get_tag(ofmt->codec_tag, ipar->codec_id))
            out_tag = 0;
        }
      }
      st->codecpar->codec_tag = out_tag;
      // Time base: the stream's, or the codec frame duration where it is finer.
      st->time_base = ist.st->time_base;
      if (ipar->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (ipar->codec_id == AV_CODEC_ID_MP3 && ipar->block_align == 1)
          st->codecpar->block_align = 0;
        if (ipar->codec_id == AV_CODEC_ID_AC3) st->codecpar->block_align = 0;
      }
      if (ipar->codec_type == AVMEDIA_TYPE_VIDEO) {
        st->avg_frame_rate = ist.st->avg_frame_rate;
        st->sample_aspect_ratio = ist.st->sample_aspect_ratio;
      }
      continue;
    }

    switch (enc->codec_type) {
      case AVMEDIA_TYPE_AUDIO:
        ost.fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt,
                                               std::max(1, enc->ch_layout.nb_channels), 1024));
        if (!ost.fifo) throw FFmpegException(msg::kAudioFifoFail);
        ost.audio_resample = enc->sample_rate != ipar->sample_rate || Faudio_sync_method > 1;
        ost.audio_frame = media::MakeFrame();
        if (!ost.audio_frame) throw FFmpegException(msg::kMallocFail);
        ist.decoding_needed = true;
        ost.encoding_needed = true;
        break;
      case AVMEDIA_TYPE_VIDEO: {
        if (enc->pix_fmt == AV_PIX_FMT_NONE) throw FFmpegException(msg::kPixFmtUnknown);
        ost.topBand = ost.original_topBand = Fframe_topBand;
        ost.bottomBand = ost.original_bottomBand = Fframe_bottomBand;
        ost.leftBand = ost.original_leftBand = Fframe_leftBand;
        ost.rightBand = ost.original_rightBand = Fframe_rightBand;
        ost.video_crop = ost.topBand || ost.bottomBand || ost.leftBand || ost.rightBand;
        // Pictures reach the scaler turned upright.
        const TPictureSize in = TurnedSize(ist.rotation.Rotation(), ipar->width, ipar->height);
        const int cw = in.width - ost.leftBand - ost.rightBand;
        const int ch = in.height - ost.topBand - ost.bottomBand;
        ost.video_resample = !FEnableFilter && (ost.video_crop || cw != enc->width ||
                                                ch != enc->height || ipar->format != enc->pix_fmt);
        if (ost.video_resample) {
          ost.pict_tmp = media::MakeFrame();
          if (!ost.pict_tmp) throw FFmpegException(msg::kTempPicture);
          ost.pict_tmp->format = enc->pix_fmt;
          ost.pict_tmp->width = enc->width;
          ost.pict_tmp->height = enc->height;
          if (ff::av_frame_get_buffer(ost.pict_tmp.get(), 0) < 0)
            throw FFmpegException(msg::kTempPicture);
          if (FOptions.Initialized()) {
            int64_t flags = 0;
            if (ff::av_opt_get_int(FOptions.sws_opts, "sws_flags", 0, &flags) >= 0)
              Fsws_flags = static_cast<int>(flags);
          }
          ost.original_width = in.width;
          ost.original_height = in.height;
          enc->bits_per_raw_sample = 0;
        }
        ost.resample_width = cw;
        ost.resample_height = ch;
        ost.resample_pix_fmt = ipar->format;
        ost.enc_frame = media::MakeFrame();
        // A later input of a join meets an encoder already set up by the first.
        const bool later_segment =
            FJoinMode &&
            &op - &r.ost[0] >= static_cast<ptrdiff_t>(Foutput_files[0]->streams.size());
        if (FEnableFilter) BuildVideoFilters(ost, ist, later_segment);
        ist.decoding_needed = true;
        ost.encoding_needed = true;
        break;
      }
      case AVMEDIA_TYPE_SUBTITLE:
        ist.decoding_needed = true;
        ost.encoding_needed = true;
        break;
      default:
        throw FFmpegException(msg::kInvalidOutCodecType);
    }

    // Two-pass logs.
    if (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
      const int table_index = static_cast<int>(&op - &r.ost[0]);
      std::string name = (Fpass_logfilename_prefix.empty() ? std::string(msg::kPassLogDefault)
                                                           : Fpass_logfilename_prefix) +
                         "-" + std::to_string(table_index) + ".log";
      if (name.size() > 1023) name.resize(1023);
      if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.logfile = std::fopen(name.c_str(), "wb");
        if (!ost.logfile) throw FFmpegException(Format(msg::kPassLogWrite, name.c_str()));
      } else {
        std::string text;
        const int64_t got = runtime::ReadWholeFile(name, text);
        if (got == runtime::kReadWholeFileNoMemory)
          throw FFmpegException(Format(msg::kPassLogMemory, name.c_str()));
        if (got < 0) throw FFmpegException(Format(msg::kPassLogRead, name.c_str()));
        ff::av_freep(&enc->stats_in);
        enc->stats_in = ff::av_strdup(text.c_str());
      }
    }
  }
  if (Fbit_buffer_size <= 0) throw FFmpegException(Format(msg::kBitBufferFail, Fbit_buffer_size));

  // 5. Open the encoders (in join mode segment 0 only).
  const int width = FJoinMode ? static_cast<int>(Foutput_files[0]->streams.size()) : 0;
  for (size_t i = 0; i < r.ost.size(); ++i) {
    TAVOutputStream& ost = *r.ost[i];
    if (!ost.encoding_needed) continue;
    if (FJoinMode && static_cast<int>(i) >= width) continue;
    const AVMediaType type = ost.enc->codec_type;
    // The stream's own record says which encoder it takes (by name, or the format's choice).
    const AVCodec* codec =
        ost.setup->encoder ? ost.setup->encoder : ff::avcodec_find_encoder(ost.enc->codec_id);
    if (!codec) {
      const std::string m = Format(msg::kEncoderNotFound, static_cast<int>(ost.enc->codec_id),
                                   ost.file_index, ost.index, TypeName(type).c_str());
      LogF(llError, "%s", m.c_str());
      throw FFmpegException(m);
    }
    // The stream's time base is a hint for the muxer.
    ost.st->time_base = ost.enc->time_base;
    if (type == AVMEDIA_TYPE_SUBTITLE) KeepSourceStyles(ost.enc, *r.ist[ost.source_index]->st);
    int err = 0;
    {
      std::lock_guard lock(media::CodecLock());
      err = ff::avcodec_open2(ost.enc, codec, nullptr);
    }
    if (err < 0) {
      const std::string m =
          Format(msg::kEncoderOpenFail, ost.file_index, ost.index, TypeName(type).c_str());
      LogF(llError, "%s", m.c_str());
      throw FFmpegException(m);
    }
    ost.opened = true;
    ff::avcodec_parameters_from_context(ost.st->codecpar, ost.enc);
    if (type == AVMEDIA_TYPE_VIDEO) {
      ost.st->avg_frame_rate = ost.enc->framerate;
      ost.st->sample_aspect_ratio = ost.enc->sample_aspect_ratio;
    }
    Fextra_size += ost.enc->extradata_size;
  }
  // The bitstream filters, whose output parameters the muxer gets (shared by the segments of a
  // join).
  for (size_t i = 0; i < r.ost.size() && (!FJoinMode || static_cast<int>(i) < width); ++i)
    InitBitstreamFilters(*r.ost[i]);
  // Join mode: the later segments share the streams of segment 0.
  for (size_t i = width; FJoinMode && i < r.ost.size(); ++i) {
    r.ost[i]->enc = r.ost[i % width]->enc;
    r.ost[i]->show_fps = false;
  }

  // 6. Open the decoders.
  for (size_t i = 0; i < r.ist.size(); ++i) {
    TAVInputStream& ist = *r.ist[i];
    if (!ist.decoding_needed) continue;
    const AVCodecParameters* par = ist.st->codecpar;
    const AVCodec* codec = i < Finput_codecs.size() && Finput_codecs[i]
                               ? Finput_codecs[i]
                               : ff::avcodec_find_decoder(par->codec_id);
    const std::string tname = TypeName(par->codec_type);
    if (!codec) {
      const std::string m = Format(msg::kDecoderNotFound, static_cast<int>(par->codec_id),
                                   ist.file_index, ist.index, tname.c_str());
      LogF(llError, "%s", m.c_str());
      throw FFmpegException(m);
    }
    ist.dec.reset(ff::avcodec_alloc_context3(codec));
    if (!ist.dec) throw FFmpegException(msg::kMallocFail);
    ff::avcodec_parameters_to_context(ist.dec.get(), par);
    ist.dec->pkt_timebase = ist.st->time_base;
    ist.dec->thread_count = Fthread_count;
    if (FOptions.Initialized() && par->codec_type >= 0 && par->codec_type <= 3)
      FOptions.ApplyContextOptions(ist.dec.get(), FOptions.avcodec_opts[par->codec_type],
                                   AV_OPT_FLAG_DECODING_PARAM);
    int err = 0;
    {
      std::lock_guard lock(media::CodecLock());
      err = ff::avcodec_open2(ist.dec.get(), codec, nullptr);
    }
    if (err < 0) {
      const std::string m = Format(msg::kDecoderOpenFail, ist.file_index, ist.index, tname.c_str());
      LogF(llError, "%s", m.c_str());
      throw FFmpegException(m);
    }
    ist.frame = media::MakeFrame();
    if (!ist.frame) throw FFmpegException(msg::kMallocFail);
  }

  // 7. Initial time stamps.
  for (auto& ip : r.ist) {
    ip->pts = 0;
    ip->next_pts = kNoValue;
    ip->is_start = true;
  }

  // 8. Metadata maps.
  for (const TMetaDataMap& m : Fmeta_data_maps) {
    if (m.out_file < 0 || m.out_file >= Fnb_output_files) {
      const std::string t = Format(msg::kInvalidOutFileIndex, m.out_file, m.out_file, m.in_file);
      LogF(llError, "%s", t.c_str());
      throw FFmpegException(t);
    }
    if (m.in_file < 0 || m.in_file >= Fnb_input_files) {
      const std::string t = Format(msg::kInvalidInFileIndex, m.in_file, m.out_file, m.in_file);
      LogF(llError, "%s", t.c_str());
      throw FFmpegException(t);
    }
    ff::av_dict_copy(&Foutput_files[m.out_file]->ctx->metadata,
                     Finput_files[m.in_file].ctx->metadata, AV_DICT_DONT_OVERWRITE);
  }

  // 9. Chapters, shifted by the start position and cut at the recording limit.
  for (int i = 0; i < Fnb_input_files; ++i)
    for (int j = 0; j < (FJoinMode ? 1 : Fnb_output_files); ++j)
      CopyChapters(*Finput_files[i].ctx, Fstart_time - Finput_files_ts_offset[i], Frecording_time,
                   *Foutput_files[j]->ctx);

  // 10. Headers.
  for (int j = 0; j < (FJoinMode ? 1 : Fnb_output_files); ++j) {
    AVFormatContext* oc = Foutput_files[j]->ctx.get();
    const int err = ff::avformat_write_header(oc, nullptr);
    if (err < 0) {
      const std::string m = Format(msg::kHeaderFail, j);
      LogF(llError, "%s: %s", m.c_str(), media::ErrorCodeText(err).c_str());
      throw FFmpegException(m);
    }
    Foutput_files[j]->unfinished = true;
  }

  // An RTP session needs its description on the receiving side: log it when every output is one.
  LogSdp();

  // 11. Mapping log.
  for (int j = 0; j < (FJoinMode ? 1 : Fnb_output_files); ++j)
    if (Fverbose >= 0)
      ff::av_dump_format(Foutput_files[j]->ctx.get(), j, Foutput_files[j]->file_name.c_str(), 1);
  if (Fverbose >= 0) {
    LogF(llVerbose, "%s", msg::kStreamMapping);
    for (auto& op : r.ost) {
      const TAVInputStream& ist = *r.ist[op->source_index];
      const std::string tname =
          TypeName(op->enc ? op->enc->codec_type : ist.st->codecpar->codec_type);
      LogF(llVerbose, msg::kStreamMapLine, ist.file_index, ist.index,
           FJoinMode ? 0 : op->file_index, op->index, tname.c_str());
      if (op->sync_index != op->source_index) {
        const TAVInputStream& s = *r.ist[op->sync_index];
        LogF(llVerbose, msg::kSyncLine, s.file_index, s.index, tname.c_str());
      }
    }
  }

  // 12. The report clock.
  Ftimer_start = NowUs();
  r.last_report = Ftimer_start;
}

}  // namespace trelvix::engine
