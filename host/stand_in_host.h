// The host side of the platform stand-in: a small program-less host that
// tests and the demonstration link.  It keeps images, strings, the Results
// window and the registry of script functions, and hands a plug-in the table
// of host operations (host_interface.h).
//
// What the real host program leaves open, this one decides (the plug-in side
// header repeats it for handler writers):
// - Zero-size images exist: width or height may be 0; their lock yields a
//   pointer that must not be read or written.
// - A function declared with RealImagePtr is entered only with a 4-byte real
//   image; any other image (or a null one) makes the call fail with a script
//   error before the handler runs.
// - A dm_string returned by a script function gives its reference to the
//   host, which reads the text and releases it.
//
// One Host is active at a time: the operations of the table find it through
// a process-wide pointer, set by the constructor.
#pragma once

#include "host_interface.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// One argument of a script call, made with the helpers below.
DM_Arg image_arg(DM_ImageToken image);
DM_Arg real_image_arg(DM_ImageToken image);
DM_Arg cell_arg(DM_ImageToken* cell);
DM_Arg float_arg(float value);
DM_Arg float_ptr_arg(float* value);
DM_Arg string_arg(DM_StringToken text);

struct CallResult {
  bool called = false;                     // the handler was entered
  float value = 0.0f;                      // a float result
  std::string text;                        // a dm_string result
  std::vector<std::string> script_errors;  // raised during the call
};

// A parsed signature text: "void f(BasicImage, float *)" has the name "f"
// and the type code "vBp" (letters in host_interface.h).
struct Signature {
  std::string name;
  std::string type_code;
};
// False for a text this host cannot read (unknown type, stray characters).
bool parse_signature(const std::string& text, Signature& out);

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The table to link a plug-in with.
  const DM_HostInterface* interface() const;

  void set_version(uint32_t version);
  uint32_t version() const;

  // Images.  new_image returns a token carrying one reference, which the
  // caller releases with release_image.
  DM_ImageToken new_image(const std::string& name, uint32_t type, uint32_t width, uint32_t height);
  void release_image(DM_ImageToken image);
  int reference_count(DM_ImageToken image) const;
  uint32_t data_type(DM_ImageToken image) const;
  uint32_t width(DM_ImageToken image) const;
  uint32_t height(DM_ImageToken image) const;
  std::string image_name(DM_ImageToken image) const;
  int data_changed_count(DM_ImageToken image) const;
  // Pixels in row-major order, as doubles whatever the pixel type.
  std::vector<double> pixels(DM_ImageToken image) const;
  // Stores values (converted to the image's pixel type, integers
  // truncated and clamped to the type's range).
  void set_pixels(DM_ImageToken image, const std::vector<double>& values);

  // Strings.
  DM_StringToken new_string(const std::string& bytes);
  void release_string(DM_StringToken text);
  std::string string_bytes(DM_StringToken text) const;

  // What is alive now: tests check that a call leaves nothing behind.
  size_t live_images() const;
  size_t live_strings() const;
  size_t live_locks() const;

  // The Results window: every text handed to "void Result( dm_string )",
  // one entry per call, unchanged.
  const std::vector<std::string>& results() const { return results_; }
  void clear_results() { results_.clear(); }
  // Every script error raised so far.
  const std::vector<std::string>& script_errors() const { return script_errors_; }
  void clear_script_errors() { script_errors_.clear(); }

  // Registered functions, in registration order.
  std::vector<std::string> signatures() const;
  size_t function_count() const;
  // Signatures of removed functions, in the order they were removed.
  const std::vector<std::string>& removed() const { return removed_; }

  // Calls a registered function by name with the given arguments.  A
  // missing function or mismatched arguments give a script error.
  CallResult call(const std::string& name, const std::vector<DM_Arg>& args);

  // The desktop: key states that GetAsyncKeyState reports (the low bit,
  // "pressed since the last query", clears once read) and the synthetic
  // strokes sent with keybd_event.
  struct KeyEvent {
    uint8_t virtual_key;
    uint8_t scan_code;
    uint32_t flags;
    uintptr_t extra;
  };
  void set_key_state(int32_t virtual_key, int16_t state);
  const std::vector<KeyEvent>& key_events() const { return key_events_; }

  // Fault injection: the n-th fallible host operation from now (1 is the
  // next one) fails; 0 turns it off.  fail_operation makes every call of
  // one named operation fail ("ImageClone", "RealImage", "Result", ...);
  // an empty name turns it off.
  void fail_nth_call(long n);
  void fail_operation(const std::string& operation);
  // Fallible host operations made so far.
  long host_calls() const { return calls_; }

  struct Impl;

 private:
  friend struct HostOps;
  std::unique_ptr<Impl> impl_;
  std::vector<std::string> results_;
  std::vector<std::string> script_errors_;
  std::vector<std::string> removed_;
  std::map<int32_t, int16_t> key_states_;
  std::vector<KeyEvent> key_events_;
  long calls_ = 0;
  long fail_at_ = 0;
  std::string fail_name_;
  uint32_t version_ = 0x030A0000u;
};

// Opens a plug-in library and drives its exports in the host's order.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Opens the library, checks that DMPlugIn_GetVersion answers 2 and links
  // it to the host.  False (with a reason) when any of it fails.
  bool load(const std::string& path, Host& host, std::string& error);
  void startup();
  void run();
  void cleanup();
  void shutdown();
  // Unloads the library (its static objects are destroyed).
  void unload();
  bool loaded() const { return handle_ != nullptr; }

 private:
  void call_export(const char* name);
  void* handle_ = nullptr;
};

}  // namespace standin
