#include "excel_cell.h"

#include <algorithm>
#include <cstring>

#include "rk_codec.h"

namespace YCompoundFiles {
namespace YExcel {

ExcelCell::ExcelCell() : type_(kUndefined), integer_(0), double_(0.0) {}

bool ExcelCell::Get(int32_t& value) const {
  if (type_ == kInteger) {
    value = integer_;
    return true;
  }
  if (type_ == kDouble) {
    value = RKCodec::Trunc32(double_);
    return true;
  }
  return false;
}

bool ExcelCell::Get(double& value) const {
  if (type_ == kDouble) {
    value = double_;
    return true;
  }
  if (type_ == kInteger) {
    value = integer_;
    return true;
  }
  return false;
}

bool ExcelCell::Get(char* buffer) const {
  if (type_ != kNarrowString) return false;
  std::copy(narrow_.begin(), narrow_.end(), buffer);
  return true;
}

bool ExcelCell::Get(char16_t* buffer) const {
  if (type_ != kWideString) return false;
  std::copy(wide_.begin(), wide_.end(), buffer);
  return true;
}

uint64_t ExcelCell::GetStringLength() const {
  if (type_ == kNarrowString) return narrow_.size() - 1;
  if (type_ == kWideString) return wide_.size() - 1;
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

const char* ExcelCell::GetString() const { return type_ == kNarrowString ? narrow_.data() : nullptr; }

const char16_t* ExcelCell::GetWString() const { return type_ == kWideString ? wide_.data() : nullptr; }

void ExcelCell::SetInteger(int32_t value) {
  type_ = kInteger;
  integer_ = value;
}

void ExcelCell::SetDouble(double value) {
  type_ = kDouble;
  double_ = value;
}

void ExcelCell::SetString(const char* text) {
  if (!text || !*text) {
    EraseContents();
    return;
  }
  type_ = kNarrowString;
  narrow_.assign(text, text + std::strlen(text) + 1);
  wide_.clear();
}

void ExcelCell::SetString(const char16_t* text) {
  if (!text || !*text) {
    EraseContents();
    return;
  }
  const char16_t* end = text;
  while (*end) ++end;
  type_ = kWideString;
  wide_.assign(text, end + 1);
  narrow_.clear();
}

void ExcelCell::EraseContents() {
  type_ = kUndefined;
  narrow_.clear();
  wide_.clear();
}

std::ostream& operator<<(std::ostream& out, const ExcelCell& cell) {
  switch (cell.Type()) {
    case ExcelCell::kInteger: return out << cell.GetInteger();
    case ExcelCell::kDouble: {
      const std::streamsize precision = out.precision(15);
      out << cell.GetDouble();
      out.precision(precision);
      return out;
    }
    case ExcelCell::kNarrowString: return out << cell.GetString();
    default: return out;
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
