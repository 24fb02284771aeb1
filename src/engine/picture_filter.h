// A small filter graph that takes one picture and gives one back in the same pixel format, with
// no delay: the shared plumbing of deinterlacing and turning pictures upright. Used on the
// conversion thread only; the graph is built on the first picture and rebuilt when the picture
// format or size changes.
#pragma once

#include <string>

#include "media/ff_ptr.h"
#include "media/ffapi.h"

namespace trelvix::engine {

class TPictureFilter {
 public:
  // `chain`: the filters between source and sink, as a graph description ("pp=fd"). `convert`:
  // whether a format the chain does not take may be converted there and back; when false such a
  // format is refused. Drops the current graph.
  void SetChain(std::string chain, bool convert);

  // Writes the filtered `src` into `dst` (whose previous picture is released), with the
  // properties of `src`. False when the graph cannot be set up for this picture or a library
  // call fails; `dst` is then empty and `src` untouched.
  bool Run(const AVFrame* src, AVFrame* dst);

 private:
  bool Build(const AVFrame* src);

  std::string chain_;
  bool convert_ = true;
  media::FilterGraphPtr graph_;
  AVFilterContext* src_ = nullptr;   // owned by graph_
  AVFilterContext* sink_ = nullptr;  // owned by graph_
  int format_ = -1, width_ = 0, height_ = 0;
  bool failed_ = false;  // the current format could not be set up: don't retry for each picture
};

}  // namespace trelvix::engine
