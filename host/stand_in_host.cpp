#include "stand_in_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

// The tokens handed out are pointers to these objects, cast to the opaque
// token types of the table.
struct DM_ImageObject {
  int refs = 1;
  std::string name;
  uint32_t type = DM_TYPE_REAL4;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<float> reals;    // pixels of a 4-byte real image
  std::vector<double> values;  // pixels of every other type
  int data_changed = 0;
};

struct DM_StringObject {
  int refs = 1;
  std::string bytes;
};

struct DM_LockObject {
  DM_ImageObject* image = nullptr;
  float nothing = 0.0f;  // what a lock on a zero-size image yields
};

struct DM_FunctionObject {
  int refs = 1;
  bool registered = true;
  std::string signature;
  standin::Signature parsed;
  void* fn = nullptr;
  DM_Invoker invoker = nullptr;
};

namespace standin {

namespace {

Host* active = nullptr;

bool known_type(uint32_t type) {
  switch (type) {
    case DM_TYPE_INT8:
    case DM_TYPE_UINT8:
    case DM_TYPE_INT16:
    case DM_TYPE_UINT16:
    case DM_TYPE_INT32:
    case DM_TYPE_UINT32:
    case DM_TYPE_REAL4:
    case DM_TYPE_REAL8:
      return true;
    default:
      return false;
  }
}

// A value as a pixel of the given type would hold it.
double to_type(double v, uint32_t type) {
  auto clamp_int = [v](double lo, double hi) {
    if (std::isnan(v)) return 0.0;
    return std::min(hi, std::max(lo, std::trunc(v)));
  };
  switch (type) {
    case DM_TYPE_INT8:
      return clamp_int(-128, 127);
    case DM_TYPE_UINT8:
      return clamp_int(0, 255);
    case DM_TYPE_INT16:
      return clamp_int(-32768, 32767);
    case DM_TYPE_UINT16:
      return clamp_int(0, 65535);
    case DM_TYPE_INT32:
      return clamp_int(-2147483648.0, 2147483647.0);
    case DM_TYPE_UINT32:
      return clamp_int(0, 4294967295.0);
    case DM_TYPE_REAL4:
      return static_cast<float>(v);
    default:
      return v;
  }
}

// Pixels in row-major order, as doubles whatever the pixel type.
std::vector<double> pixels_of(const DM_ImageObject& im) {
  if (im.type == DM_TYPE_REAL4) return std::vector<double>(im.reals.begin(), im.reals.end());
  return im.values;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// "float *" and "float*" are the same type; so are "ImageRef *" and "ImageRef*".
std::string squeeze(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

char param_code(const std::string& word) {
  std::string w = squeeze(word);
  if (w == "float") return 'f';
  if (w == "float*") return 'p';
  if (w == "BasicImage") return 'B';
  if (w == "RealImagePtr") return 'R';
  if (w == "ImageRef*") return 'C';
  if (w == "dm_string") return 's';
  return 0;
}

char result_code(const std::string& word) {
  if (word == "void") return 'v';
  if (word == "float") return 'f';
  if (word == "dm_string") return 's';
  return 0;
}

}  // namespace

bool parse_signature(const std::string& text, Signature& out) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  if (!trim(text.substr(close + 1)).empty()) return false;
  std::string head = trim(text.substr(0, open));
  size_t blank = head.find_last_of(" \t");
  if (blank == std::string::npos) return false;
  std::string name = trim(head.substr(blank + 1));
  char result = result_code(trim(head.substr(0, blank)));
  if (!result || name.empty()) return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  std::string code(1, result);
  std::string params = text.substr(open + 1, close - open - 1);
  if (!trim(params).empty()) {
    size_t start = 0;
    while (true) {
      size_t comma = params.find(',', start);
      std::string word =
          params.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      char c = param_code(word);
      if (!c) return false;
      code += c;
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  out.name = name;
  out.type_code = code;
  return true;
}

DM_Arg image_arg(DM_ImageToken image) {
  DM_Arg a{};
  a.kind = 'B';
  a.u.image = image;
  return a;
}
DM_Arg real_image_arg(DM_ImageToken image) {
  DM_Arg a{};
  a.kind = 'R';
  a.u.real = reinterpret_cast<DM_RealImageToken>(image);
  return a;
}
DM_Arg cell_arg(DM_ImageToken* cell) {
  DM_Arg a{};
  a.kind = 'C';
  a.u.cell = cell;
  return a;
}
DM_Arg float_arg(float value) {
  DM_Arg a{};
  a.kind = 'f';
  a.u.f = value;
  return a;
}
DM_Arg float_ptr_arg(float* value) {
  DM_Arg a{};
  a.kind = 'p';
  a.u.fp = value;
  return a;
}
DM_Arg string_arg(DM_StringToken text) {
  DM_Arg a{};
  a.kind = 's';
  a.u.string = text;
  return a;
}

struct Host::Impl {
  DM_HostInterface table{};
  std::set<DM_ImageObject*> images;
  std::set<DM_StringObject*> strings;
  std::set<DM_LockObject*> locks;
  std::set<DM_FunctionObject*> functions;
  std::vector<DM_FunctionObject*> registry;  // registered, in order
  // Scripts may call in on several threads at once: every operation of the
  // table and every method of the host runs under this lock, except the
  // handler itself, so that calls overlap as they would in the program.
  std::mutex mutex;
  // The call each thread is in, which its script errors and Results lines
  // are also given to.
  std::map<std::thread::id, CallResult*> calls;
};

// The operations of the table.  Each fallible one first asks whether it is
// the one to fail; a bad token fails as a host error would, never crashes.
struct HostOps {
  static Host::Impl& ActiveImpl() { return *active->impl_; }

  // The lock every operation of the table takes (none while no host is
  // active: then every operation fails or does nothing).  The helpers below
  // it expect it held.
  struct HostLock {
    std::unique_lock<std::mutex> lock;
    HostLock() {
      if (active) lock = std::unique_lock<std::mutex>(ActiveImpl().mutex);
    }
  };

  // The call the calling thread is in; null outside Host::Call.
  static CallResult* CallOfThisThread() {
    auto it = ActiveImpl().calls.find(std::this_thread::get_id());
    return it == ActiveImpl().calls.end() ? nullptr : it->second;
  }

  static bool Fail(const char* operation) {
    if (!active) return true;
    long n = ++active->calls_;
    if (active->fail_at_ && n == active->fail_at_) return true;
    return !active->fail_name_.empty() && active->fail_name_ == operation;
  }

  static DM_ImageObject* Image(DM_ImageToken t) {
    return active && ActiveImpl().images.count(t) ? t : nullptr;
  }
  static DM_StringObject* String(DM_StringToken t) {
    return active && ActiveImpl().strings.count(t) ? t : nullptr;
  }

  static void Release(DM_ImageObject* im) {
    if (--im->refs == 0) {
      ActiveImpl().images.erase(im);
      delete im;
    }
  }
  static void Release(DM_StringObject* s) {
    if (--s->refs == 0) {
      ActiveImpl().strings.erase(s);
      delete s;
    }
  }
  static void Release(DM_FunctionObject* f) {
    if (--f->refs == 0) {
      ActiveImpl().functions.erase(f);
      delete f;
    }
  }

  static DM_ImageObject* MakeImage(const std::string& name, uint32_t type, uint32_t w, uint32_t h) {
    auto* im = new DM_ImageObject;
    im->name = name;
    im->type = type;
    im->width = w;
    im->height = h;
    size_t n = static_cast<size_t>(w) * h;
    if (type == DM_TYPE_REAL4)
      im->reals.assign(n, 0.0f);
    else
      im->values.assign(n, 0.0);
    ActiveImpl().images.insert(im);
    return im;
  }

  static uint32_t GetVersion() {
    HostLock held;
    return active ? active->version_ : 0;
  }

  static void RaiseScriptError(const char* message) {
    HostLock held;
    RaiseScriptErrorLocked(message);
  }
  static void RaiseScriptErrorLocked(const char* message) {
    if (!active) return;
    std::string text = message ? message : "";
    active->script_errors_.push_back(text);
    if (CallResult* call = CallOfThisThread()) call->script_errors.push_back(text);
  }

  static int StringNew(const char* bytes, size_t length, uint32_t encoding, DM_StringToken* out) {
    HostLock held;
    if (Fail("string_new") || encoding != 0 || !out || (!bytes && length)) return DM_FAILED;
    auto* s = new DM_StringObject;
    if (length) s->bytes.assign(bytes, length);
    ActiveImpl().strings.insert(s);
    *out = s;
    return DM_OK;
  }

  static int StringGet(DM_StringToken t, uint32_t encoding, char* buffer, size_t capacity,
                       size_t* length) {
    HostLock held;
    DM_StringObject* s = String(t);
    if (Fail("string_get") || !s || encoding != 0 || !length) return DM_FAILED;
    *length = s->bytes.size();
    if (buffer) std::copy_n(s->bytes.data(), std::min(capacity, s->bytes.size()), buffer);
    return DM_OK;
  }

  static void StringAddRef(DM_StringToken t) {
    HostLock held;
    if (DM_StringObject* s = String(t)) ++s->refs;
  }
  static void StringRelease(DM_StringToken t) {
    HostLock held;
    if (DM_StringObject* s = String(t)) Release(s);
  }
  static void ImageAddRef(DM_ImageToken t) {
    HostLock held;
    if (DM_ImageObject* im = Image(t)) ++im->refs;
  }
  static void ImageRelease(DM_ImageToken t) {
    HostLock held;
    if (DM_ImageObject* im = Image(t)) Release(im);
  }

  static int Result(DM_StringToken t) {
    HostLock held;
    DM_StringObject* s = String(t);
    if (Fail("Result") || !s) return DM_FAILED;
    active->results_.push_back(s->bytes);
    if (CallResult* call = CallOfThisThread()) call->results.push_back(s->bytes);
    return DM_OK;
  }

  static int RealImage(DM_StringToken name, uint32_t bytes_per_pixel, uint32_t w, uint32_t h,
                       DM_ImageToken* out) {
    HostLock held;
    DM_StringObject* s = String(name);
    if (Fail("RealImage") || !s || !out) return DM_FAILED;
    uint32_t type = bytes_per_pixel == 4 ? DM_TYPE_REAL4 : bytes_per_pixel == 8 ? DM_TYPE_REAL8 : 0;
    if (!type) return DM_FAILED;
    // An image larger than memory can hold is a host failure, not a crash.
    if (static_cast<uint64_t>(w) * h > (uint64_t{1} << 31)) return DM_FAILED;
    *out = MakeImage(s->bytes, type, w, h);
    return DM_OK;
  }

  static int ImageGetDimensionSize(DM_ImageToken t, uint32_t dimension, uint32_t* out) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageGetDimensionSize") || !im || !out || dimension > 1) return DM_FAILED;
    *out = dimension == 0 ? im->width : im->height;
    return DM_OK;
  }

  static int ImageClone(DM_ImageToken t, DM_ImageToken* out) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageClone") || !im || !out) return DM_FAILED;
    DM_ImageObject* copy = MakeImage(im->name, im->type, im->width, im->height);
    copy->reals = im->reals;
    copy->values = im->values;
    *out = copy;
    return DM_OK;
  }

  static bool Locked(const DM_ImageObject* im) {
    for (auto* l : ActiveImpl().locks)
      if (l->image == im) return true;
    return false;
  }

  static int ImageChangeDataType(DM_ImageToken t, uint32_t type) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageChangeDataType") || !im || !known_type(type) || Locked(im)) return DM_FAILED;
    if (type == im->type) return DM_OK;
    std::vector<double> v = pixels_of(*im);
    im->type = type;
    im->reals.clear();
    im->values.clear();
    if (type == DM_TYPE_REAL4) {
      im->reals.reserve(v.size());
      for (double x : v) im->reals.push_back(static_cast<float>(x));
    } else {
      for (double& x : v) x = to_type(x, type);
      im->values = std::move(v);
    }
    return DM_OK;
  }

  static int ImageGetName(DM_ImageToken t, DM_StringToken* out) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageGetName") || !im || !out) return DM_FAILED;
    auto* s = new DM_StringObject;
    s->bytes = im->name;
    ActiveImpl().strings.insert(s);
    *out = s;
    return DM_OK;
  }

  static int ImageDataChanged(DM_ImageToken t) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageDataChanged") || !im) return DM_FAILED;
    ++im->data_changed;
    return DM_OK;
  }

  static int ImageLock(DM_ImageToken t, uint32_t mode, float** data, DM_LockToken* out) {
    HostLock held;
    DM_ImageObject* im = Image(t);
    if (Fail("ImageGetLockedData") || !im || mode != 1 || !data || !out ||
        im->type != DM_TYPE_REAL4)
      return DM_FAILED;
    auto* lock = new DM_LockObject;
    lock->image = im;
    ++im->refs;
    ActiveImpl().locks.insert(lock);
    *data = im->reals.empty() ? &lock->nothing : im->reals.data();
    *out = lock;
    return DM_OK;
  }

  static void ImageUnlock(DM_LockToken t) {
    HostLock held;
    if (!active || !ActiveImpl().locks.count(t)) return;
    ActiveImpl().locks.erase(t);
    Release(t->image);
    delete t;
  }

  static int RegisterFunction(const char* begin, const char* end, const char* type_code, void* fn,
                              DM_Invoker invoker, DM_FunctionToken* out) {
    HostLock held;
    if (Fail("register function") || !begin || !end || end < begin || !type_code || !fn ||
        !invoker || !out)
      return DM_FAILED;
    std::string text(begin, end);
    Signature parsed;
    if (!parse_signature(text, parsed) || parsed.type_code != type_code) return DM_FAILED;
    for (auto* f : ActiveImpl().registry)
      if (f->parsed.name == parsed.name && f->parsed.type_code == parsed.type_code)
        return DM_FAILED;
    auto* f = new DM_FunctionObject;
    f->signature = text;
    f->parsed = parsed;
    f->fn = fn;
    f->invoker = invoker;
    ActiveImpl().functions.insert(f);
    ActiveImpl().registry.push_back(f);
    ++f->refs;  // the registry's own
    *out = f;
    return DM_OK;
  }

  static int RemoveFunction(DM_FunctionToken t) {
    HostLock held;
    if (Fail("remove function") || !active || !ActiveImpl().functions.count(t) || !t->registered)
      return DM_FAILED;
    t->registered = false;
    active->removed_.push_back(t->signature);
    auto& r = ActiveImpl().registry;
    r.erase(std::find(r.begin(), r.end(), t));
    Release(t);
    return DM_OK;
  }

  static void FunctionAddRef(DM_FunctionToken t) {
    HostLock held;
    if (active && ActiveImpl().functions.count(t)) ++t->refs;
  }
  static void FunctionRelease(DM_FunctionToken t) {
    HostLock held;
    if (active && ActiveImpl().functions.count(t)) Release(t);
  }

  static int16_t GetAsyncKeyState(int32_t virtual_key) {
    HostLock held;
    if (!active) return 0;
    auto it = active->key_states_.find(virtual_key);
    if (it == active->key_states_.end()) return 0;
    int16_t state = it->second;
    it->second = static_cast<int16_t>(state & ~1);
    return state;
  }

  static void KeybdEvent(uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra) {
    HostLock held;
    if (active) active->key_events_.push_back({virtual_key, scan_code, flags, extra});
  }
};

Host::Host() : impl_(std::make_unique<Impl>()) {
  DM_HostInterface& t = impl_->table;
  t.size = sizeof(DM_HostInterface);
  t.get_version = &HostOps::GetVersion;
  t.raise_script_error = &HostOps::RaiseScriptError;
  t.string_new = &HostOps::StringNew;
  t.string_get = &HostOps::StringGet;
  t.string_add_ref = &HostOps::StringAddRef;
  t.string_release = &HostOps::StringRelease;
  t.image_add_ref = &HostOps::ImageAddRef;
  t.image_release = &HostOps::ImageRelease;
  t.result = &HostOps::Result;
  t.real_image = &HostOps::RealImage;
  t.image_get_dimension_size = &HostOps::ImageGetDimensionSize;
  t.image_clone = &HostOps::ImageClone;
  t.image_change_data_type = &HostOps::ImageChangeDataType;
  t.image_get_name = &HostOps::ImageGetName;
  t.image_data_changed = &HostOps::ImageDataChanged;
  t.image_lock = &HostOps::ImageLock;
  t.image_unlock = &HostOps::ImageUnlock;
  t.register_function = &HostOps::RegisterFunction;
  t.remove_function = &HostOps::RemoveFunction;
  t.function_add_ref = &HostOps::FunctionAddRef;
  t.function_release = &HostOps::FunctionRelease;
  t.get_async_key_state = &HostOps::GetAsyncKeyState;
  t.keybd_event = &HostOps::KeybdEvent;
  active = this;
}

Host::~Host() {
  for (auto* l : impl_->locks) delete l;
  for (auto* i : impl_->images) delete i;
  for (auto* s : impl_->strings) delete s;
  for (auto* f : impl_->functions) delete f;
  if (active == this) active = nullptr;
}

const DM_HostInterface* Host::Interface() const {
  return &impl_->table;
}
void Host::SetVersion(uint32_t version) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  version_ = version;
}
uint32_t Host::Version() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return version_;
}

namespace {
DM_ImageObject& checked(const Host::Impl& impl, DM_ImageToken t) {
  if (!impl.images.count(t)) throw std::invalid_argument("not a live image");
  return *t;
}
}  // namespace

DM_ImageToken Host::NewImage(const std::string& name, uint32_t type, uint32_t width,
                             uint32_t height) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  if (!known_type(type)) throw std::invalid_argument("unknown pixel type");
  return HostOps::MakeImage(name, type, width, height);
}

void Host::ReleaseImage(DM_ImageToken image) {
  HostOps::ImageRelease(image);
}
int Host::ReferenceCount(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).refs;
}
uint32_t Host::DataType(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).type;
}
uint32_t Host::Width(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).width;
}
uint32_t Host::Height(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).height;
}
std::string Host::ImageName(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).name;
}
int Host::DataChangedCount(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return checked(*impl_, image).data_changed;
}

std::vector<double> Host::Pixels(DM_ImageToken image) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return pixels_of(checked(*impl_, image));
}

void Host::SetPixels(DM_ImageToken image, const std::vector<double>& values) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  DM_ImageObject& im = checked(*impl_, image);
  size_t n = static_cast<size_t>(im.width) * im.height;
  if (values.size() != n) throw std::invalid_argument("wrong number of pixels");
  for (size_t i = 0; i < n; ++i) {
    if (im.type == DM_TYPE_REAL4)
      im.reals[i] = static_cast<float>(values[i]);
    else
      im.values[i] = to_type(values[i], im.type);
  }
}

DM_StringToken Host::NewString(const std::string& bytes) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  auto* s = new DM_StringObject;
  s->bytes = bytes;
  impl_->strings.insert(s);
  return s;
}

void Host::ReleaseString(DM_StringToken text) {
  HostOps::StringRelease(text);
}

std::string Host::StringBytes(DM_StringToken text) const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  if (!impl_->strings.count(text)) throw std::invalid_argument("not a live string");
  return text->bytes;
}

size_t Host::LiveImages() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return impl_->images.size();
}
size_t Host::LiveStrings() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return impl_->strings.size();
}
size_t Host::LiveLocks() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return impl_->locks.size();
}

std::vector<std::string> Host::Signatures() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  std::vector<std::string> out;
  for (auto* f : impl_->registry) out.push_back(f->signature);
  return out;
}

size_t Host::FunctionCount() const {
  std::lock_guard<std::mutex> held(impl_->mutex);
  return impl_->registry.size();
}

CallResult Host::Call(const std::string& name, const std::vector<DM_Arg>& args) {
  CallResult r;
  DM_FunctionObject* f = nullptr;
  {
    std::lock_guard<std::mutex> held(impl_->mutex);
    std::string kinds;
    for (const DM_Arg& a : args) kinds += a.kind;
    for (auto* candidate : impl_->registry)
      if (candidate->parsed.name == name && candidate->parsed.type_code.substr(1) == kinds)
        f = candidate;
    impl_->calls[std::this_thread::get_id()] = &r;
    if (!f) {
      HostOps::RaiseScriptErrorLocked(("no function " + name + " taking these arguments").c_str());
      impl_->calls.erase(std::this_thread::get_id());
      return r;
    }
    for (const DM_Arg& a : args) {
      if (a.kind != 'R') continue;
      auto* im = reinterpret_cast<DM_ImageToken>(a.u.real);
      if (!impl_->images.count(im) || im->type != DM_TYPE_REAL4) {
        HostOps::RaiseScriptErrorLocked("a real image is expected");
        impl_->calls.erase(std::this_thread::get_id());
        return r;
      }
    }
    ++f->refs;  // the function stays while it runs, even if it removes itself
  }
  // The handler runs without the lock: calls on other threads go on meanwhile.
  DM_Arg result{};
  r.called = true;
  f->invoker(f->fn, args.data(), static_cast<int>(args.size()), &result);
  std::lock_guard<std::mutex> held(impl_->mutex);
  impl_->calls.erase(std::this_thread::get_id());
  if (result.kind == 'f') r.value = result.u.f;
  if (result.kind == 's' && result.u.string) {
    if (impl_->strings.count(result.u.string)) {
      r.text = result.u.string->bytes;
      HostOps::Release(result.u.string);
    }
  }
  HostOps::Release(f);
  return r;
}

void Host::SetKeyState(int32_t virtual_key, int16_t state) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  key_states_[virtual_key] = state;
}

void Host::FailNthCall(long n) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  fail_at_ = n > 0 ? calls_ + n : 0;
}
void Host::FailOperation(const std::string& operation) {
  std::lock_guard<std::mutex> held(impl_->mutex);
  fail_name_ = operation;
}

// --- the loader -------------------------------------------------------------------

PluginLibrary::~PluginLibrary() {
  Unload();
}

bool PluginLibrary::Load(const std::string& path, Host& host, std::string& error) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    error = why ? why : "cannot open " + path;
    return false;
  }
  auto version = reinterpret_cast<uint32_t (*)()>(dlsym(handle_, "DMPlugIn_GetVersion"));
  auto link = reinterpret_cast<void (*)(const DM_HostInterface*, uint32_t)>(
      dlsym(handle_, "DMPlugIn_Link_2"));
  if (!version || !link) {
    error = "not a plug-in: the version and link exports are missing";
    Unload();
    return false;
  }
  if (version() != DM_PLUGIN_INTERFACE_VERSION) {
    error = "the plug-in speaks another interface version";
    Unload();
    return false;
  }
  link(host.Interface(), 0);
  return true;
}

void PluginLibrary::CallExport(const char* name) {
  if (!handle_) throw std::logic_error("no plug-in loaded");
  auto f = reinterpret_cast<void (*)()>(dlsym(handle_, name));
  if (!f) throw std::runtime_error(std::string("the plug-in lacks ") + name);
  f();
}

void PluginLibrary::Startup() {
  CallExport("PlugInStartup");
}
void PluginLibrary::Run() {
  CallExport("PlugInRun");
}
void PluginLibrary::Cleanup() {
  CallExport("PlugInCleanup");
}
void PluginLibrary::Shutdown() {
  CallExport("PlugInShutdown");
}

void PluginLibrary::Unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace standin
