// TFFBaseComponent: the base of the suite's components (encoder, decoder, player, logger).
#pragma once

#include <string>

#include "runtime/object.h"

namespace trelvix::media {

class TFFBaseComponent : public runtime::TObject {
 public:
  const std::string& About() const { return FAbout; }
  void SetAbout(const std::string& v) { FAbout = v; }
  const std::string& Version() const { return FVersion; }

 protected:
  explicit TFFBaseComponent(std::string version) : FVersion(std::move(version)) {}

 private:
  std::string FAbout;
  std::string FVersion;
};

}  // namespace trelvix::media
