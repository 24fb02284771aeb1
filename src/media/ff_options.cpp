#include "media/ff_options.h"

#include <cctype>

#include "media/ff_log.h"

namespace trelvix::media {
namespace {

bool BlankAfterTrim(const std::string& s) {
  for (unsigned char c : s)
    if (!std::isspace(c)) return false;
  return true;
}

}  // namespace

void TFFOptions::InitOptions(int sws_flags) {
  FreeOptions();
  for (int i = 0; i < 5; ++i) {
    avcodec_opts[i] = ff::avcodec_alloc_context3(nullptr);
    if (avcodec_opts[i]) avcodec_opts[i]->codec_type = static_cast<AVMediaType>(i);
  }
  avformat_opts = ff::avformat_alloc_context();
  sws_opts = ff::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, sws_flags,
                                nullptr, nullptr, nullptr);
}

void TFFOptions::FreeOptions() {
  for (AVCodecContext*& c : avcodec_opts) {
    if (c) ff::avcodec_free_context(&c);
  }
  if (avformat_opts) {
    ff::avformat_free_context(avformat_opts);
    avformat_opts = nullptr;
  }
  if (sws_opts) {
    ff::sws_freeContext(sws_opts);
    sws_opts = nullptr;
  }
  names_.clear();
}

bool TFFOptions::OptionSetDefault(const std::string& name, const std::string& value) {
  if (BlankAfterTrim(name) || BlankAfterTrim(value) || !Initialized()) return false;
  const AVOption* found = nullptr;
  int ret = 0;
  for (int type = 0; type < 5 && ret >= 0; ++type) {
    const int flag = kMediaTypeOptionFlags[type];
    const AVOption* o = ff::av_opt_find(avcodec_opts[0], name.c_str(), nullptr, flag, 0);
    if (o) {
      found = o;
      ret = ff::av_opt_set(avcodec_opts[type], name.c_str(), value.c_str(), 0);
    }
  }
  void* others[] = {avformat_opts, sws_opts};
  for (void* ctx : others) {
    if (found || !ctx) continue;
    if ((found = ff::av_opt_find(ctx, name.c_str(), nullptr, 0, 0)))
      ret = ff::av_opt_set(ctx, name.c_str(), value.c_str(), 0);
  }
  if (!found && name.size() > 1) {
    int type = -1;
    switch (name[0]) {
      case 'a':
        type = AVMEDIA_TYPE_AUDIO;
        break;
      case 'v':
        type = AVMEDIA_TYPE_VIDEO;
        break;
      case 's':
        type = AVMEDIA_TYPE_SUBTITLE;
        break;
    }
    if (type >= 0) {
      const std::string rest = name.substr(1);
      if ((found = ff::av_opt_find(avcodec_opts[type], rest.c_str(), nullptr, 0, 0)))
        ret = ff::av_opt_set(avcodec_opts[type], rest.c_str(), value.c_str(), 0);
    }
  }
  if (!found) return false;
  if (ret < 0) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
               name.c_str());
    return false;
  }
  names_.emplace_back(found->name);
  if (avcodec_opts[0]->debug != 0 || avformat_opts->debug != 0)
    TFFLogger::Current().SetLogLevel(llDebug);
  return true;
}

void TFFOptions::ApplyContextOptions(void* target, void* source, int flags) const {
  for (const std::string& name : names_) {
    const AVOption* o = ff::av_opt_find(source, name.c_str(), nullptr, 0, 0);
    if (!o || (o->flags & flags) != flags) continue;
    uint8_t* text = nullptr;
    if (ff::av_opt_get(source, name.c_str(), 0, &text) >= 0 && text) {
      ff::av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text), 0);
    }
    ff::av_free(text);
  }
}

}  // namespace trelvix::media
