// Shared by the decoder tests: library loading and clips made once per test binary.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "support/temp_dir.h"

namespace trelvix::decoder::testing {

// Loads the libraries (the fixtures need the encoder set, which holds the decoder's).
inline void LoadLibraries() {
  media::TFFLoader& loader = media::FFLoader();
  if (!loader.Loaded(media::kEncoderLibraries)) {
    ASSERT_TRUE(loader.Load(media::kEncoderLibraries)) << loader.LastErrMsg();
  }
}

// Clips made on first use and kept for the rest of the binary's run.
class ClipCache {
 public:
  static ClipCache& Get() {
    static ClipCache cache;
    return cache;
  }
  const std::string& Clip(const std::string& name, const fixtures::ClipSpec& spec) {
    auto it = paths_.find(name);
    if (it != paths_.end()) return it->second;
    const std::string path = dir_.File(name);
    fixtures::MakeClip(path, spec);
    return paths_.emplace(name, path).first->second;
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  test::TempDir dir_;
  std::map<std::string, std::string> paths_;
};

}  // namespace trelvix::decoder::testing
