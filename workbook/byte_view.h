#pragma once
// A bounded, read-only window on input bytes: the one way the workbook layer
// looks at bytes that came from a file.
//
// Every access names an offset from the start of the window and is checked
// against the window's size; an access that does not fit fails (Get returns
// false and leaves the value zero, Sub returns an empty view) and reads
// nothing. Field values are little-endian, decoded by ByteCodec.
//
// The view does not own the bytes; they must outlive it.
#include <cstdint>

#include "byte_codec.h"

namespace YCompoundFiles {
namespace YExcel {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const char* data, uint64_t size)
      : data_(size ? data : nullptr), size_(data ? size : 0) {}

  const char* data() const { return data_; }
  uint64_t size() const { return size_; }

  // True when count bytes from offset lie inside the view.
  bool Has(uint64_t offset, uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  template <class T>
  bool Get(T& value, uint64_t offset) const {
    value = 0;
    if (!Has(offset, sizeof(T))) return false;
    ByteCodec::Get(data_, value, static_cast<size_t>(offset));
    return true;
  }

  // The bytes from offset to the end of the view (empty when offset lies
  // beyond it).
  ByteView From(uint64_t offset) const {
    if (offset >= size_) return ByteView();
    return ByteView(data_ + offset, size_ - offset);
  }

 private:
  const char* data_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
