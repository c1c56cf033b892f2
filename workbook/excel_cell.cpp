#include "excel_cell.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

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

// A text block of the cell's own: the word (unused here), the characters
// and a terminator.
template <class Char>
const Char* own_copy(const Char* text, uint64_t length) {
  char* block = new char[TextTable::kWordSize + (length + 1) * sizeof(Char)];
  auto* chars = reinterpret_cast<Char*>(block + TextTable::kWordSize);
  std::memcpy(chars, text, length * sizeof(Char));
  chars[length] = 0;
  TextTable::SetWord(chars, 0);
  return chars;
}

void release(const void* text) {
  delete[](static_cast<const char*>(text) - TextTable::kWordSize);
}

}  // namespace

static_assert(sizeof(ExcelCell) == 16, "a stored numeric cell takes 16 bytes");
static_assert(std::is_nothrow_move_constructible_v<ExcelCell> &&
                  std::is_nothrow_move_assignable_v<ExcelCell>,
              "cells move without failing");

ExcelCell::ExcelCell(const ExcelCell& other) : ExcelCell() {
  CopyValue(other);
}

ExcelCell::ExcelCell(ExcelCell&& other) noexcept : ExcelCell() {
  *this = std::move(other);
}

ExcelCell& ExcelCell::operator=(const ExcelCell& other) {
  if (this != &other) CopyValue(other);
  return *this;
}

ExcelCell& ExcelCell::operator=(ExcelCell&& other) noexcept {
  if (this == &other) return *this;
  // Only a text of the cell's own can be handed over: one a cell of a sheet
  // shows from its workbook's file goes when the workbook does, and is
  // copied (only a want of memory, which ends the program here, could make
  // that copy fail).
  if (!other.HoldsText() || !other.OwnsText()) {
    CopyValue(other);
    return *this;
  }
  ReleaseText();
  data_.value = other.data_.value;
  data_.type = other.data_.type;
  data_.xf = other.data_.xf;
  data_.owns_text = 1;
  other.data_.owns_text = 0;
  other.data_.type = kUndefined;
  return *this;
}

void ExcelCell::CopyValue(const ExcelCell& other) {
  if (other.data_.type == kNarrowString) {
    const auto* text = static_cast<const char*>(other.data_.value.text);
    TakeText(own_copy(text, length_of(text)), kNarrowString);
  } else if (other.data_.type == kWideString) {
    const auto* text = static_cast<const char16_t*>(other.data_.value.text);
    TakeText(own_copy(text, length_of(text)), kWideString);
  } else {
    ReleaseText();
    data_.value = other.data_.value;
    data_.type = other.data_.type;
  }
  data_.xf = other.data_.xf;
}

void ExcelCell::CopyWithPlace(const ExcelCell& other) {
  CopyValue(other);
  // In its place the formula still computes it.
  data_.formula = other.data_.formula;
  data_.column = other.data_.column;
  data_.row = other.data_.row;
}

void ExcelCell::ReleaseOwnText() {
  if (HoldsText()) release(data_.value.text);
  data_.owns_text = 0;
}

// text is a text block the cell owns from now on.
void ExcelCell::TakeText(const void* text, CellType type) {
  ReleaseText();
  data_.value.text = text;
  data_.type = type;
  data_.owns_text = 1;
}

bool ExcelCell::Get(int32_t& value) const {
  if (data_.type == kInteger) {
    value = data_.value.integer;
    return true;
  }
  if (data_.type == kDouble) {
    value = RKCodec::Trunc32(data_.value.number);
    return true;
  }
  return false;
}

bool ExcelCell::Get(double& value) const {
  if (data_.type == kDouble) {
    value = data_.value.number;
    return true;
  }
  if (data_.type == kInteger) {
    value = data_.value.integer;
    return true;
  }
  return false;
}

bool ExcelCell::IsErrorCode(uint8_t code) {
  return std::find(std::begin(kErrorCodes), std::end(kErrorCodes), code) != std::end(kErrorCodes);
}

bool ExcelCell::GetBoolean(bool& value) const {
  if (data_.type != kBoolean) return false;
  value = data_.value.integer != 0;
  return true;
}

bool ExcelCell::GetError(uint8_t& code) const {
  if (data_.type != kError) return false;
  code = static_cast<uint8_t>(data_.value.integer);
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
  if (data_.type == kNarrowString) return length_of(static_cast<const char*>(data_.value.text));
  if (data_.type == kWideString) return length_of(static_cast<const char16_t*>(data_.value.text));
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
  return data_.type == kNarrowString ? static_cast<const char*>(data_.value.text) : nullptr;
}

const char16_t* ExcelCell::GetWString() const {
  return data_.type == kWideString ? static_cast<const char16_t*>(data_.value.text) : nullptr;
}

void ExcelCell::SetInteger(int32_t value) {
  ReleaseText();
  data_.type = kInteger;
  data_.value.integer = value;
}

void ExcelCell::SetDouble(double value) {
  ReleaseText();
  data_.type = kDouble;
  data_.value.number = value;
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
  ReleaseText();
  data_.type = kBoolean;
  data_.value.integer = value ? 1 : 0;
}

void ExcelCell::SetError(uint8_t code) {
  if (!IsErrorCode(code)) return;
  ReleaseText();
  data_.type = kError;
  data_.value.integer = code;
}

// The copy is made before the text held goes: it may be a piece of it.
void ExcelCell::SetText(std::string_view text) {
  TakeText(own_copy(text.data(), text.size()), kNarrowString);
}

void ExcelCell::SetText(std::u16string_view text) {
  TakeText(own_copy(text.data(), text.size()), kWideString);
}

void ExcelCell::ShowText(const char* text) {
  TakeText(text, kNarrowString);
  data_.owns_text = 0;
}

void ExcelCell::ShowText(const char16_t* text) {
  TakeText(text, kWideString);
  data_.owns_text = 0;
}

void ExcelCell::EraseContents() {
  ReleaseText();
  data_.type = kUndefined;
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
