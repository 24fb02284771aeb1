// Typed entry-point slots: one process-wide object per bound library function or variable.
//
// A slot holds the address that the loader found with dlsym (null while its library is not
// bound) and is called like the function it stands for: ff::avcodec_open2(ctx, codec, &opts).
// Slots are written only by the loader on the main thread while no worker runs, and read from
// any thread afterwards; nothing may call a slot of a library that is not loaded.
#pragma once

#include <utility>

namespace trelvix::media {

template <class F>
class FnSlot;

template <class R, class... A>
class FnSlot<R (*)(A...)> {
 public:
  using Fn = R (*)(A...);
  R operator()(A... args) const { return fn_(std::forward<A>(args)...); }
  Fn get() const { return fn_; }
  explicit operator bool() const { return fn_ != nullptr; }
  void** address() { return reinterpret_cast<void**>(&fn_); }

 private:
  Fn fn_ = nullptr;
};

// Variadic C functions (av_log and friends): the fixed arguments are typed, the rest pass as is.
template <class R, class... A>
class FnSlot<R (*)(A..., ...)> {
 public:
  using Fn = R (*)(A..., ...);
  template <class... V>
  R operator()(A... args, V... rest) const {
    return fn_(args..., rest...);
  }
  Fn get() const { return fn_; }
  explicit operator bool() const { return fn_ != nullptr; }
  void** address() { return reinterpret_cast<void**>(&fn_); }

 private:
  Fn fn_ = nullptr;
};

// A data symbol: the slot receives the address of the exported object.
template <class T>
class VarSlot {
 public:
  T* get() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  void** address() { return reinterpret_cast<void**>(&ptr_); }

 private:
  T* ptr_ = nullptr;
};

// One row of a library's binding table, in binding order.
struct SlotEntry {
  const char* name;
  void** address;
  bool is_variable;
  bool optional;
};

}  // namespace trelvix::media
