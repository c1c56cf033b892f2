#include "excel_cell.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "rk_codec.h"

namespace YCompoundFiles {
namespace YExcel {

namespace {

template <class Char>
Char* copy_of(const Char* text, uint64_t length) {
  Char* copy = new Char[length + 1];
  std::copy(text, text + length, copy);
  copy[length] = 0;
  return copy;
}

template <class Char>
uint64_t length_of(const Char* text) {
  uint64_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

static_assert(sizeof(ExcelCell) == 16, "a cell stays a compact tagged value");

ExcelCell::ExcelCell() : value_{0}, xf_(0), type_(kUndefined), column_(0), row_(0) {}

ExcelCell::ExcelCell(const ExcelCell& other)
    : value_(other.value_),
      xf_(other.xf_),
      type_(other.type_),
      column_(other.column_),
      row_(other.row_) {
  CopyText(other);
}

ExcelCell& ExcelCell::operator=(const ExcelCell& other) {
  if (this == &other) return *this;
  ExcelCell copy(other);
  return *this = std::move(copy);
}

ExcelCell& ExcelCell::operator=(ExcelCell&& other) noexcept {
  if (this == &other) return *this;
  Release();
  value_ = other.value_;
  xf_ = other.xf_;
  type_ = other.type_;
  column_ = other.column_;
  row_ = other.row_;
  other.type_ = kUndefined;
  return *this;
}

// After a memberwise copy of other's fields: the text becomes this cell's own.
void ExcelCell::CopyText(const ExcelCell& other) {
  if (other.type_ == kNarrowString)
    value_.narrow = copy_of(other.value_.narrow, length_of(other.value_.narrow));
  else if (other.type_ == kWideString)
    value_.wide = copy_of(other.value_.wide, length_of(other.value_.wide));
}

void ExcelCell::Release() {
  if (type_ == kNarrowString) delete[] value_.narrow;
  if (type_ == kWideString) delete[] value_.wide;
  type_ = kUndefined;
}

bool ExcelCell::Get(int32_t& value) const {
  if (type_ == kInteger) {
    value = value_.integer;
    return true;
  }
  if (type_ == kDouble) {
    value = RKCodec::Trunc32(value_.number);
    return true;
  }
  return false;
}

bool ExcelCell::Get(double& value) const {
  if (type_ == kDouble) {
    value = value_.number;
    return true;
  }
  if (type_ == kInteger) {
    value = value_.integer;
    return true;
  }
  return false;
}

bool ExcelCell::Get(char* buffer) const {
  if (type_ != kNarrowString) return false;
  std::copy(value_.narrow, value_.narrow + length_of(value_.narrow) + 1, buffer);
  return true;
}

bool ExcelCell::Get(char16_t* buffer) const {
  if (type_ != kWideString) return false;
  std::copy(value_.wide, value_.wide + length_of(value_.wide) + 1, buffer);
  return true;
}

uint64_t ExcelCell::GetStringLength() const {
  if (type_ == kNarrowString) return length_of(value_.narrow);
  if (type_ == kWideString) return length_of(value_.wide);
  return 0;
}

int32_t ExcelCell::GetInteger() const {
  int32_t value = 0;
  return Get(value) ? value : 0;
}

double ExcelCell::GetDouble() const {
  double value = 0.0;
  return Get(value) ? value : 0.0;
}

const char* ExcelCell::GetString() const {
  return type_ == kNarrowString ? value_.narrow : nullptr;
}

const char16_t* ExcelCell::GetWString() const {
  return type_ == kWideString ? value_.wide : nullptr;
}

void ExcelCell::SetInteger(int32_t value) {
  Release();
  type_ = kInteger;
  value_.integer = value;
}

void ExcelCell::SetDouble(double value) {
  Release();
  type_ = kDouble;
  value_.number = value;
}

void ExcelCell::SetString(const char* text) {
  if (!text || !*text) {
    EraseContents();
    return;
  }
  // Copied before the old text goes: the argument may be this cell's own.
  char* copy = copy_of(text, length_of(text));
  Release();
  type_ = kNarrowString;
  value_.narrow = copy;
}

void ExcelCell::SetString(const char16_t* text) {
  if (!text || !*text) {
    EraseContents();
    return;
  }
  char16_t* copy = copy_of(text, length_of(text));
  Release();
  type_ = kWideString;
  value_.wide = copy;
}

void ExcelCell::EraseContents() {
  Release();
}

std::ostream& operator<<(std::ostream& out, const ExcelCell& cell) {
  switch (cell.Type()) {
    case ExcelCell::kInteger:
      return out << cell.GetInteger();
    case ExcelCell::kDouble: {
      const std::streamsize precision = out.precision(15);
      out << cell.GetDouble();
      out.precision(precision);
      return out;
    }
    case ExcelCell::kNarrowString:
      return out << cell.GetString();
    default:
      return out;
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
