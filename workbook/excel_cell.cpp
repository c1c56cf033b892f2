#include "excel_cell.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <type_traits>

#include "rk_codec.h"
#include "text_table.h"

namespace YCompoundFiles {
namespace YExcel {

namespace {

template <class Char>
uint64_t length_of(const Char* text) {
  uint64_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

static_assert(sizeof(ExcelCell) == 16, "a cell stays a compact tagged value");
static_assert(std::is_trivially_copyable_v<ExcelCell>, "cells move as plain bytes");

ExcelCell::ExcelCell() : value_{0}, xf_(0), type_(kUndefined), column_(0), row_(0), texts_(0) {}

const TextTable* ExcelCell::Texts() const {
  const TextTable* texts = TextTable::WithId(texts_);
  // A copy that outlived its workbook shows no text.
  return texts && value_.text < texts->Size() ? texts : nullptr;
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

bool ExcelCell::IsErrorCode(uint8_t code) {
  return std::find(std::begin(kErrorCodes), std::end(kErrorCodes), code) != std::end(kErrorCodes);
}

bool ExcelCell::GetBoolean(bool& value) const {
  if (type_ != kBoolean) return false;
  value = value_.integer != 0;
  return true;
}

bool ExcelCell::GetError(uint8_t& code) const {
  if (type_ != kError) return false;
  code = static_cast<uint8_t>(value_.integer);
  return true;
}

bool ExcelCell::Get(char* buffer) const {
  const char* text = GetString();
  if (!text) return false;
  std::copy(text, text + GetStringLength() + 1, buffer);
  return true;
}

bool ExcelCell::Get(char16_t* buffer) const {
  const char16_t* text = GetWString();
  if (!text) return false;
  std::copy(text, text + GetStringLength() + 1, buffer);
  return true;
}

uint64_t ExcelCell::GetStringLength() const {
  if (type_ != kNarrowString && type_ != kWideString) return 0;
  const TextTable* texts = Texts();
  return texts ? texts->Length(value_.text) : 0;
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
  if (type_ != kNarrowString) return nullptr;
  const TextTable* texts = Texts();
  return texts ? texts->Narrow(value_.text) : nullptr;
}

const char16_t* ExcelCell::GetWString() const {
  if (type_ != kWideString) return nullptr;
  const TextTable* texts = Texts();
  return texts ? texts->Wide(value_.text) : nullptr;
}

void ExcelCell::SetInteger(int32_t value) {
  type_ = kInteger;
  value_.integer = value;
}

void ExcelCell::SetDouble(double value) {
  type_ = kDouble;
  value_.number = value;
}

void ExcelCell::SetString(const char* text) {
  if (!text || !*text) return EraseContents();
  SetText(std::string_view(text, length_of(text)));
}

void ExcelCell::SetString(const char16_t* text) {
  if (!text || !*text) return EraseContents();
  SetText(std::u16string_view(text, length_of(text)));
}

void ExcelCell::SetBoolean(bool value) {
  type_ = kBoolean;
  value_.integer = value ? 1 : 0;
}

void ExcelCell::SetError(uint8_t code) {
  if (!IsErrorCode(code)) return;
  type_ = kError;
  value_.integer = code;
}

void ExcelCell::SetText(std::string_view text) {
  TextTable* texts = TextTable::WithId(texts_);
  if (!texts) return EraseContents();
  value_.text = texts->Add(text);
  type_ = kNarrowString;
}

void ExcelCell::SetText(std::u16string_view text) {
  TextTable* texts = TextTable::WithId(texts_);
  if (!texts) return EraseContents();
  value_.text = texts->Add(text);
  type_ = kWideString;
}

void ExcelCell::SetTextIndex(uint32_t index, bool wide) {
  value_.text = index;
  type_ = wide ? kWideString : kNarrowString;
}

void ExcelCell::EraseContents() {
  type_ = kUndefined;
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
      if (const char* text = cell.GetString()) out << text;
      return out;
    default:
      return out;
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
