// The root of the suite's components: the type of every event's Sender.
#pragma once

namespace trelvix::runtime {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

}  // namespace trelvix::runtime
