// The plug-in side of the host platform: what a plug-in compiles in to talk
// to the host.
//
// Everything here wraps the table of host operations (host_interface.h) that
// the host hands over when it links the plug-in.  A host operation that fails
// throws HostError.  Handlers only hold resources (RAII) and let exceptions
// pass: the invoker below, the one script boundary, hands any of them to the
// exception bridge (DM_raise_in_host), which raises it as a script error in
// the host.
//
// Decisions this platform makes where the host program leaves things open:
// - Zero-size images are allowed: RealImage may make an image 0 wide or high.
//   Its pixel lock yields a pointer that must not be read or written.
// - A script function declared with RealImagePtr is only entered with a
//   4-byte real image: any other image, or none, is refused by the host with
//   a script error before the handler runs.  BasicImage takes any pixel type
//   (or a null handle, which the handler sees as an empty handle).
// - A dm_string returned by a script function passes its one reference to
//   the host, which releases it once it has read the text.
#pragma once

#include "host_interface.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// The host's interface, kept from DMPlugIn_Link_2 for every later call.
// Null before linking: every host operation then fails.
const DM_HostInterface* DM_host();
void DM_set_host(const DM_HostInterface* host);

// The host's version word (3.10.0 is DM_VERSION_3_10_0).
uint32_t DM_host_version();

// A host operation that failed.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reference-counted handle of a host text.
class dm_string {
 public:
  dm_string() = default;
  // Adopts a token that already carries one reference for us.
  static dm_string adopt(DM_StringToken token) { return dm_string(token); }
  // Takes a reference of its own.
  static dm_string share(DM_StringToken token);
  dm_string(const dm_string& other);
  dm_string(dm_string&& other) noexcept : token_(std::exchange(other.token_, nullptr)) {}
  dm_string& operator=(dm_string other) noexcept {
    std::swap(token_, other.token_);
    return *this;
  }
  ~dm_string();

  DM_StringToken get() const { return token_; }
  // Hands our reference over (to the host, as a script function's result).
  DM_StringToken release() { return std::exchange(token_, nullptr); }
  bool is_null() const { return token_ == nullptr; }

 private:
  explicit dm_string(DM_StringToken token) : token_(token) {}
  DM_StringToken token_ = nullptr;
};

// Host text from bytes and back; every caller in this system passes
// encoding 0, under which the bytes pass unchanged.
dm_string DM_make_string(const std::string& bytes, uint32_t encoding = 0);
std::string DM_string_bytes(const dm_string& text, uint32_t encoding = 0);

// Reference-counted image handle.  BasicImage and RealImagePtr are the same
// handle under the names the script signatures use.
class ImageRef {
 public:
  ImageRef() = default;
  static ImageRef adopt(DM_ImageToken token) { return ImageRef(token); }
  static ImageRef share(DM_ImageToken token);
  ImageRef(const ImageRef& other);
  ImageRef(ImageRef&& other) noexcept : token_(std::exchange(other.token_, nullptr)) {}
  ImageRef& operator=(ImageRef other) noexcept {
    std::swap(token_, other.token_);
    return *this;
  }
  ~ImageRef();

  DM_ImageToken get() const { return token_; }
  DM_ImageToken release() { return std::exchange(token_, nullptr); }
  bool is_null() const { return token_ == nullptr; }

 protected:
  explicit ImageRef(DM_ImageToken token) : token_(token) {}

 private:
  DM_ImageToken token_ = nullptr;
};

class BasicImage : public ImageRef {
 public:
  BasicImage() = default;
  // Takes the handler's own reference on an argument token.
  explicit BasicImage(DM_ImageToken token) : ImageRef(share(token)) {}
  BasicImage(ImageRef image) : ImageRef(std::move(image)) {}
};

class RealImagePtr : public ImageRef {
 public:
  RealImagePtr() = default;
  explicit RealImagePtr(DM_RealImageToken token)
      : ImageRef(share(reinterpret_cast<DM_ImageToken>(token))) {}
  RealImagePtr(ImageRef image) : ImageRef(std::move(image)) {}
};

// Stores a new image into a script's ImageRef * cell: what the cell held is
// released and the new handle's reference moves into it.
void DM_store_image(DM_ImageToken* cell, ImageRef image);

// Scoped lock on an image's pixels, which it yields as 4-byte floats,
// row-major (x + y * width).  The pointer is valid until the lock ends.
class PixelLock {
 public:
  explicit PixelLock(const ImageRef& image);
  ~PixelLock();
  PixelLock(const PixelLock&) = delete;
  PixelLock& operator=(const PixelLock&) = delete;
  float* data() const { return data_; }

 private:
  float* data_ = nullptr;
  DM_LockToken lock_ = nullptr;
};

// The host's script functions this system calls.
namespace DM {
void Result(const dm_string& text);  // "void Result( dm_string )"
RealImagePtr RealImage(const dm_string& name, uint32_t bytes_per_pixel, uint32_t width,
                       uint32_t height);
uint32_t ImageGetDimensionSize(const ImageRef& image, uint32_t dimension);
ImageRef ImageClone(const ImageRef& image);
void ImageChangeDataType(const ImageRef& image, uint32_t type);
dm_string ImageGetName(const ImageRef& image);
void ImageDataChanged(const ImageRef& image);
}  // namespace DM

// The window system's keyboard and mouse calls.
int16_t GetAsyncKeyState(int32_t virtual_key);
void keybd_event(uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra);

// The exception bridge: call it inside a catch block; it raises the
// exception in flight as a script error in the host.  Given a script
// function's name (the invoker gives it), the text is "<name>: <reason>":
// code below the invoker throws the reason only.  Never throws.
void DM_raise_in_host(const char* function = nullptr) noexcept;

namespace Gatan {
namespace PlugIn {

class PlugInMain;

// The main object that exists now (null when none).
PlugInMain* current_main_object();

// Base of the plug-in's one main object.  The host's life-cycle exports
// reach its hooks; the object keeps every function it registered and
// removes them, last registered first, at shutdown or when it is destroyed.
class PlugInMain {
 public:
  PlugInMain();
  virtual ~PlugInMain();
  PlugInMain(const PlugInMain&) = delete;
  PlugInMain& operator=(const PlugInMain&) = delete;

  virtual void Start() {}
  virtual void Run() {}
  virtual void Cleanup() {}
  virtual void End() {}

  // Registers a script function from its signature text and a plain
  // function pointer.  Throws HostError when the host refuses it.
  template <class R, class... Args>
  void AddFunction(const char* signature, R (*fn)(Args...));

  // Removes every registered function, the last registered first.
  void RemoveAllFunctions();

  size_t function_count() const { return functions_.size(); }

  // The name of the script function registered with handler fn (the word
  // before the parenthesis of its signature text); null when none is.
  const char* NameOf(const void* fn) const;

 private:
  struct Registered {
    DM_FunctionToken token;
    const void* fn;
    std::string name;
  };
  void add_function(const char* signature, const char* type_code, void* fn, DM_Invoker invoker);
  std::vector<Registered> functions_;
};

// The name of the script function the current main object registered with
// handler fn; null when there is none.
const char* script_function_name(const void* fn);

}  // namespace PlugIn
}  // namespace Gatan

// ---------------------------------------------------------------------------
// How a handler's C++ type becomes a type code and a call from an argument
// array.  Only the parameter kinds a script signature can name are allowed.
namespace dm_detail {

template <class T>
struct Kind;
template <>
struct Kind<void> {
  static constexpr char code = 'v';
};
template <>
struct Kind<float> {
  static constexpr char code = 'f';
  static float get(const DM_Arg& a) { return a.u.f; }
  static void put(DM_Arg& a, float v) { a.u.f = v; }
};
template <>
struct Kind<float*> {
  static constexpr char code = 'p';
  static float* get(const DM_Arg& a) { return a.u.fp; }
};
template <>
struct Kind<DM_ImageToken> {
  static constexpr char code = 'B';
  static DM_ImageToken get(const DM_Arg& a) { return a.u.image; }
};
template <>
struct Kind<DM_RealImageToken> {
  static constexpr char code = 'R';
  static DM_RealImageToken get(const DM_Arg& a) { return a.u.real; }
};
template <>
struct Kind<DM_ImageToken*> {
  static constexpr char code = 'C';
  static DM_ImageToken* get(const DM_Arg& a) { return a.u.cell; }
};
template <>
struct Kind<DM_StringToken> {
  static constexpr char code = 's';
  static DM_StringToken get(const DM_Arg& a) { return a.u.string; }
  static void put(DM_Arg& a, DM_StringToken v) { a.u.string = v; }
};

template <class R, class... Args>
struct Invoker {
  // The script boundary: every exception a handler lets out, and a call
  // whose arguments do not fit the handler, becomes one script error here;
  // the call then returns normally with an empty result (0.0 or no text).
  static void call(void* fn, const DM_Arg* args, int nargs, DM_Arg* result) noexcept {
    *result = DM_Arg{};
    result->kind = Kind<R>::code;
    try {
      check_arguments(args, nargs);
      call_with(reinterpret_cast<R (*)(Args...)>(fn), args, result,
                std::index_sequence_for<Args...>{});
    } catch (...) {
      DM_raise_in_host(Gatan::PlugIn::script_function_name(fn));
    }
  }

  static void check_arguments(const DM_Arg* args, int nargs) {
    constexpr int expected = static_cast<int>(sizeof...(Args));
    if (nargs != expected)
      throw std::invalid_argument("takes " + std::to_string(expected) +
                                  (expected == 1 ? " argument, not " : " arguments, not ") +
                                  std::to_string(nargs));
    const char* kinds = type_code() + 1;
    for (int i = 0; i < nargs; ++i) {
      if (args[i].kind != kinds[i])
        throw std::invalid_argument("argument " + std::to_string(i + 1) + " has the wrong type");
      // A float * or ImageRef * is the caller's variable: there is
      // always one.
      if ((kinds[i] == 'p' && !args[i].u.fp) || (kinds[i] == 'C' && !args[i].u.cell))
        throw std::invalid_argument("argument " + std::to_string(i + 1) + " is a null pointer");
    }
  }

  template <size_t... I>
  static void call_with(R (*f)(Args...), const DM_Arg* args, DM_Arg* result,
                        std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      (void)result;
      f(Kind<Args>::get(args[I])...);
    } else {
      Kind<R>::put(*result, f(Kind<Args>::get(args[I])...));
    }
  }

  static const char* type_code() {
    static const char code[] = {Kind<R>::code, Kind<Args>::code..., '\0'};
    return code;
  }
};

}  // namespace dm_detail

template <class R, class... Args>
void Gatan::PlugIn::PlugInMain::AddFunction(const char* signature, R (*fn)(Args...)) {
  using I = dm_detail::Invoker<R, Args...>;
  add_function(signature, I::type_code(), reinterpret_cast<void*>(fn), &I::call);
}
