#include "plugin_sdk.h"

#include <cctype>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {
const DM_HostInterface* linked_host = nullptr;

const DM_HostInterface& host() {
  if (!linked_host) throw HostError("the plug-in is not linked to a host");
  return *linked_host;
}

void check(int status, const char* operation) {
  if (status != DM_OK) throw HostError(std::string("host call failed: ") + operation);
}
}  // namespace

const DM_HostInterface* DM_host() {
  return linked_host;
}
void DM_set_host(const DM_HostInterface* h) {
  linked_host = h;
}
uint32_t DM_host_version() {
  return host().get_version();
}

// --- strings ----------------------------------------------------------------

dm_string dm_string::share(DM_StringToken token) {
  if (token) host().string_add_ref(token);
  return dm_string(token);
}

dm_string::dm_string(const dm_string& other) : token_(other.token_) {
  if (token_) host().string_add_ref(token_);
}

dm_string::~dm_string() {
  if (token_ && linked_host) linked_host->string_release(token_);
}

dm_string DM_make_string(const std::string& bytes, uint32_t encoding) {
  DM_StringToken token = nullptr;
  check(host().string_new(bytes.data(), bytes.size(), encoding, &token), "string_new");
  return dm_string::adopt(token);
}

std::string DM_string_bytes(const dm_string& text, uint32_t encoding) {
  if (text.is_null()) return std::string();
  size_t length = 0;
  check(host().string_get(text.get(), encoding, nullptr, 0, &length), "string_get");
  std::string bytes(length, '\0');
  check(host().string_get(text.get(), encoding, bytes.data(), bytes.size(), &length), "string_get");
  bytes.resize(length);
  return bytes;
}

// --- images -----------------------------------------------------------------

ImageRef ImageRef::share(DM_ImageToken token) {
  if (token) host().image_add_ref(token);
  return ImageRef(token);
}

ImageRef::ImageRef(const ImageRef& other) : token_(other.token_) {
  if (token_) host().image_add_ref(token_);
}

ImageRef::~ImageRef() {
  if (token_ && linked_host) linked_host->image_release(token_);
}

void DM_store_image(DM_ImageToken* cell, ImageRef image) {
  if (!cell) throw HostError("no image cell to store the result in");
  DM_ImageToken old = *cell;
  *cell = image.release();
  if (old) host().image_release(old);
}

PixelLock::PixelLock(const ImageRef& image) {
  check(host().image_lock(image.get(), 1, &data_, &lock_), "ImageGetLockedData");
}

PixelLock::~PixelLock() {
  if (lock_ && linked_host) linked_host->image_unlock(lock_);
}

namespace DM {

void Result(const dm_string& text) {
  check(host().result(text.get()), "Result");
}

RealImagePtr RealImage(const dm_string& name, uint32_t bytes_per_pixel, uint32_t width,
                       uint32_t height) {
  DM_ImageToken token = nullptr;
  check(host().real_image(name.get(), bytes_per_pixel, width, height, &token), "RealImage");
  return RealImagePtr(ImageRef::adopt(token));
}

uint32_t ImageGetDimensionSize(const ImageRef& image, uint32_t dimension) {
  uint32_t size = 0;
  check(host().image_get_dimension_size(image.get(), dimension, &size), "ImageGetDimensionSize");
  return size;
}

ImageRef ImageClone(const ImageRef& image) {
  DM_ImageToken token = nullptr;
  check(host().image_clone(image.get(), &token), "ImageClone");
  return ImageRef::adopt(token);
}

void ImageChangeDataType(const ImageRef& image, uint32_t type) {
  check(host().image_change_data_type(image.get(), type), "ImageChangeDataType");
}

dm_string ImageGetName(const ImageRef& image) {
  DM_StringToken token = nullptr;
  check(host().image_get_name(image.get(), &token), "ImageGetName");
  return dm_string::adopt(token);
}

void ImageDataChanged(const ImageRef& image) {
  check(host().image_data_changed(image.get()), "ImageDataChanged");
}

}  // namespace DM

// --- keyboard and mouse -------------------------------------------------------------

int16_t GetAsyncKeyState(int32_t virtual_key) {
  return linked_host ? linked_host->get_async_key_state(virtual_key) : 0;
}

void keybd_event(uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra) {
  if (linked_host) linked_host->keybd_event(virtual_key, scan_code, flags, extra);
}

// --- the exception bridge ------------------------------------------------------

void DM_raise_in_host(const char* function) noexcept {
  if (!linked_host) return;
  const char* reason = "unknown exception";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
  }
  if (!function) {
    linked_host->raise_script_error(reason);
    return;
  }
  try {
    linked_host->raise_script_error((std::string(function) + ": " + reason).c_str());
  } catch (const std::bad_alloc&) {
    // No room for the joined text: the name alone still says which call
    // failed.
    linked_host->raise_script_error(function);
  }
}

// --- the main object -------------------------------------------------------------

namespace Gatan {
namespace PlugIn {

namespace {
PlugInMain* current = nullptr;

// The word before the parenthesis: "void GuessCenter(BasicImage, ...)"
// names GuessCenter.
std::string script_name(const char* signature) {
  const char* open = std::strchr(signature, '(');
  if (!open) return {};
  const char* end = open;
  while (end > signature && end[-1] == ' ') --end;
  const char* begin = end;
  while (begin > signature &&
         (std::isalnum(static_cast<unsigned char>(begin[-1])) || begin[-1] == '_'))
    --begin;
  return std::string(begin, end);
}
}  // namespace

PlugInMain* current_main_object() {
  return current;
}

PlugInMain::PlugInMain() {
  current = this;
}

PlugInMain::~PlugInMain() {
  // Unloading without a shutdown must not leave the host calling into a
  // library that is gone.
  try {
    RemoveAllFunctions();
  } catch (...) {
  }
  if (current == this) current = nullptr;
}

void PlugInMain::add_function(const char* signature, const char* type_code, void* fn,
                              DM_Invoker invoker) {
  const char* end = signature;
  while (*end) ++end;
  // Everything that may throw comes before the registration, which then
  // cannot be left out of the list.
  Registered entry{nullptr, fn, script_name(signature)};
  functions_.reserve(functions_.size() + 1);
  DM_FunctionToken token = nullptr;
  check(host().register_function(signature, end, type_code, fn, invoker, &token),
        "register function");
  entry.token = token;
  host().function_add_ref(token);  // the list's own reference
  functions_.push_back(std::move(entry));
  host().function_release(token);  // the one we were handed
}

const char* PlugInMain::NameOf(const void* fn) const {
  for (const Registered& f : functions_)
    if (f.fn == fn) return f.name.c_str();
  return nullptr;
}

const char* script_function_name(const void* fn) {
  return current ? current->NameOf(fn) : nullptr;
}

void PlugInMain::RemoveAllFunctions() {
  while (!functions_.empty()) {
    DM_FunctionToken token = functions_.back().token;
    functions_.pop_back();
    if (!linked_host) continue;
    int status = linked_host->remove_function(token);
    linked_host->function_release(token);
    check(status, "remove function");
  }
}

}  // namespace PlugIn
}  // namespace Gatan
