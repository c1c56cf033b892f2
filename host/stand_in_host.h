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
//
// Scripts may run on several threads at once, as in the program: Call, the
// operations of the table and the methods below may be used from any
// thread.  Handlers run outside the host's lock, so calls overlap.  The
// methods that return a reference (Results, ScriptErrors, Removed,
// KeyEvents) and the Clear and HostCalls methods are for when no call runs.
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
  std::vector<std::string> results;        // Results lines the call wrote
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
  const DM_HostInterface* Interface() const;

  void SetVersion(uint32_t version);
  uint32_t Version() const;

  // Images.  NewImage returns a token carrying one reference, which the
  // caller releases with ReleaseImage.
  DM_ImageToken NewImage(const std::string& name, uint32_t type, uint32_t width, uint32_t height);
  void ReleaseImage(DM_ImageToken image);
  int ReferenceCount(DM_ImageToken image) const;
  uint32_t DataType(DM_ImageToken image) const;
  uint32_t Width(DM_ImageToken image) const;
  uint32_t Height(DM_ImageToken image) const;
  std::string ImageName(DM_ImageToken image) const;
  int DataChangedCount(DM_ImageToken image) const;
  // Pixels in row-major order, as doubles whatever the pixel type.
  std::vector<double> Pixels(DM_ImageToken image) const;
  // Stores values (converted to the image's pixel type, integers
  // truncated and clamped to the type's range).
  void SetPixels(DM_ImageToken image, const std::vector<double>& values);

  // Strings.
  DM_StringToken NewString(const std::string& bytes);
  void ReleaseString(DM_StringToken text);
  std::string StringBytes(DM_StringToken text) const;

  // What is alive now: tests check that a call leaves nothing behind.
  size_t LiveImages() const;
  size_t LiveStrings() const;
  size_t LiveLocks() const;

  // The Results window: every text handed to "void Result( dm_string )",
  // one entry per call, unchanged.
  const std::vector<std::string>& Results() const { return results_; }
  void ClearResults() { results_.clear(); }
  // Every script error raised so far.
  const std::vector<std::string>& ScriptErrors() const { return script_errors_; }
  void ClearScriptErrors() { script_errors_.clear(); }

  // Registered functions, in registration order.
  std::vector<std::string> Signatures() const;
  size_t FunctionCount() const;
  // Signatures of removed functions, in the order they were removed.
  const std::vector<std::string>& Removed() const { return removed_; }

  // Calls a registered function by name with the given arguments.  A
  // missing function or mismatched arguments give a script error.
  CallResult Call(const std::string& name, const std::vector<DM_Arg>& args);

  // The desktop: key states that GetAsyncKeyState reports (the low bit,
  // "pressed since the last query", clears once read) and the synthetic
  // strokes sent with keybd_event.
  struct KeyEvent {
    uint8_t virtual_key;
    uint8_t scan_code;
    uint32_t flags;
    uintptr_t extra;
  };
  void SetKeyState(int32_t virtual_key, int16_t state);
  const std::vector<KeyEvent>& KeyEvents() const { return key_events_; }

  // Fault injection: the n-th fallible host operation from now (1 is the
  // next one) fails; 0 turns it off.  FailOperation makes every call of
  // one named operation fail ("ImageClone", "RealImage", "Result", ...);
  // an empty name turns it off.
  void FailNthCall(long n);
  void FailOperation(const std::string& operation);
  // Fallible host operations made so far.
  long HostCalls() const { return calls_; }

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
  bool Load(const std::string& path, Host& host, std::string& error);
  void Startup();
  void Run();
  void Cleanup();
  void Shutdown();
  // Unloads the library (its static objects are destroyed).
  void Unload();
  bool Loaded() const { return handle_ != nullptr; }

 private:
  void CallExport(const char* name);
  void* handle_ = nullptr;
};

}  // namespace standin
