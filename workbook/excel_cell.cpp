#include "excel_cell.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <type_traits>

#include <cstring>
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
  delete[] (static_cast<const char*>(text) - TextTable::kWordSize);
}

}  // namespace

static_assert(sizeof(ExcelCell) == 16, "a stored numeric cell takes 16 bytes");
static_assert(std::is_nothrow_move_constructible_v<ExcelCell> &&
                  std::is_nothrow_move_assignable_v<ExcelCell>,
              "cells move without failing");

ExcelCell::ExcelCell()
    : value_{0}, xf_(0), type_(kUndefined), column_(0), row_(0), owns_text_(0) {}

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
  // shows from its workbook's file goes when the workbook does.
  if (!other.HoldsText() || !other.OwnsText()) {
    CopyValue(other);
    return *this;
  }
  ReleaseText();
  value_ = other.value_;
  type_ = other.type_;
  xf_ = other.xf_;
  owns_text_ = 1;
  other.owns_text_ = 0;
  other.type_ = kUndefined;
  return *this;
}

ExcelCell::~ExcelCell() {
  ReleaseText();
}

void ExcelCell::CopyValue(const ExcelCell& other) {
  if (other.type_ == kNarrowString) {
    const auto* text = static_cast<const char*>(other.value_.text);
    TakeText(own_copy(text, length_of(text)), kNarrowString);
  } else if (other.type_ == kWideString) {
    const auto* text = static_cast<const char16_t*>(other.value_.text);
    TakeText(own_copy(text, length_of(text)), kWideString);
  } else {
    ReleaseText();
    value_ = other.value_;
    type_ = other.type_;
  }
  xf_ = other.xf_;
}

void ExcelCell::Relocate(ExcelCell& other) noexcept {
  ReleaseText();
  value_ = other.value_;
  xf_ = other.xf_;
  type_ = other.type_;
  column_ = other.column_;
  row_ = other.row_;
  owns_text_ = other.owns_text_;
  other.owns_text_ = 0;
  other.type_ = kUndefined;
}

void ExcelCell::CopyWithPlace(const ExcelCell& other) {
  CopyValue(other);
  column_ = other.column_;
  row_ = other.row_;
}

void ExcelCell::ReleaseText() {
  if (owns_text_ && HoldsText()) release(value_.text);
  owns_text_ = 0;
}

// text is a text block the cell owns from now on.
void ExcelCell::TakeText(const void* text, CellType type) {
  ReleaseText();
  value_.text = text;
  type_ = type;
  owns_text_ = 1;
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
  if (type_ == kNarrowString) return length_of(static_cast<const char*>(value_.text));
  if (type_ == kWideString) return length_of(static_cast<const char16_t*>(value_.text));
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
  return type_ == kNarrowString ? static_cast<const char*>(value_.text) : nullptr;
}

const char16_t* ExcelCell::GetWString() const {
  return type_ == kWideString ? static_cast<const char16_t*>(value_.text) : nullptr;
}

void ExcelCell::SetInteger(int32_t value) {
  ReleaseText();
  type_ = kInteger;
  value_.integer = value;
}

void ExcelCell::SetDouble(double value) {
  ReleaseText();
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
  ReleaseText();
  type_ = kBoolean;
  value_.integer = value ? 1 : 0;
}

void ExcelCell::SetError(uint8_t code) {
  if (!IsErrorCode(code)) return;
  ReleaseText();
  type_ = kError;
  value_.integer = code;
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
  owns_text_ = 0;
}

void ExcelCell::ShowText(const char16_t* text) {
  TakeText(text, kWideString);
  owns_text_ = 0;
}

void ExcelCell::EraseContents() {
  ReleaseText();
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
