#include "excel_cell.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include "excel_sheet.h"
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
  // Only a text a cell of no sheet owns can go to another cell of no sheet;
  // other texts are copied or shown once more (only a want of memory, which
  // ends the program here, could make that fail).
  if ((data_.marks & kInSheet) || (other.data_.marks & kInSheet) || !other.HoldsText() ||
      other.data_.text != kOwn) {
    CopyValue(other);
    return *this;
  }
  Replace(other.data_.value, static_cast<CellType>(other.data_.type), kOwn);
  data_.xf = other.data_.xf;
  other.data_.text = kShown;
  other.data_.type = kUndefined;
  return *this;
}

TextTable* ExcelCell::SheetTexts() const {
  return (data_.marks & kInSheet) ? ExcelSheet::TextsOf(*this) : nullptr;
}

void ExcelCell::CopyValue(const ExcelCell& other) {
  if (!other.HoldsText()) {
    ReleaseText();
    data_.value = other.data_.value;
    data_.type = other.data_.type;
  } else if (TextTable* texts = SheetTexts();
             texts && other.data_.text != kOwn && other.SheetTexts() == texts) {
    // A text of this cell's table: shown once more.
    texts->Hold(other.data_.value.id);
    Replace(other.data_.value, static_cast<CellType>(other.data_.type), other.data_.text);
  } else if (other.data_.type == kNarrowString) {
    PutText(std::string_view(other.Text<char>()), kNarrowString);
  } else {
    PutText(std::u16string_view(other.Text<char16_t>()), kWideString);
  }
  data_.xf = other.data_.xf;
}

void ExcelCell::ReleaseHeldText() {
  if (HoldsText()) {
    if (data_.text == kOwn)
      release(data_.value.text);
    else
      SheetTexts()->Release(data_.value.id);
  }
  data_.text = kShown;
}

void ExcelCell::Replace(Value text, CellType type, uint8_t kind) {
  ReleaseText();
  data_.value = text;
  data_.type = type;
  data_.text = kind;
}

template <class Char>
void ExcelCell::PutText(std::basic_string_view<Char> text, CellType type) {
  Value value{};
  if (TextTable* texts = SheetTexts()) {
    value.id = texts->Share(text);
    Replace(value, type, TextTable::IsFixed(value.id) ? kShown : kSharedText);
  } else {
    value.text = own_copy(text.data(), text.size());
    Replace(value, type, kOwn);
  }
}

template <class Char>
const Char* ExcelCell::Text() const {
  if (data_.text == kOwn) return static_cast<const Char*>(data_.value.text);
  const TextTable* texts = SheetTexts();
  if constexpr (sizeof(Char) == 1)
    return texts->Narrow(data_.value.id);
  else
    return texts->Wide(data_.value.id);
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
  if (data_.type == kNarrowString) return length_of(Text<char>());
  if (data_.type == kWideString) return length_of(Text<char16_t>());
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
  return data_.type == kNarrowString ? Text<char>() : nullptr;
}

const char16_t* ExcelCell::GetWString() const {
  return data_.type == kWideString ? Text<char16_t>() : nullptr;
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

void ExcelCell::SetText(std::string_view text) {
  PutText(text, kNarrowString);
}

void ExcelCell::SetText(std::u16string_view text) {
  PutText(text, kWideString);
}

void ExcelCell::ShowText(uint32_t id, bool wide) {
  Value value{};
  value.id = id;
  Replace(value, wide ? kWideString : kNarrowString, kShown);
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
