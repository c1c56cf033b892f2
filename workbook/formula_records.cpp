#include "formula_records.h"

#include <cmath>
#include <cstring>

#include "byte_view.h"
#include "excel_cell.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {
namespace FormulaParts {

// ---------------------------------------------------------------------------
// Array

Array::Array()
    : Record(Code::kArray),
      first_row(0),
      last_row(0),
      first_col(0),
      last_col(0),
      options(0),
      reserved(0) {
  data_size = 12;
  record_size = 16;
}

template <class Visit>
void Array::Fields(const Visit& visit) {
  visit(first_row, 0);
  visit(last_row, 2);
  visit(first_col, 4);
  visit(last_col, 5);
  visit(options, 6);
  visit(reserved, 8);
  visit(formula, 12);
}

uint64_t Array::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 12) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Array::DataSize() {
  return data_size = 12 + formula.size();
}

uint64_t Array::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t Array::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// ShrFmla, ShrFmla1

ShrFmla::ShrFmla() : ShrFmla(Code::kShrFmla) {}

ShrFmla::ShrFmla(uint16_t record_code)
    : Record(record_code), first_row(0), last_row(0), first_col(0), last_col(0), reserved(0) {
  data_size = 8;
  record_size = 12;
}

template <class Visit>
void ShrFmla::Fields(const Visit& visit) {
  visit(first_row, 0);
  visit(last_row, 2);
  visit(first_col, 4);
  visit(last_col, 5);
  visit(reserved, 6);
  visit(formula, 8);
}

uint64_t ShrFmla::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 8) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t ShrFmla::DataSize() {
  return data_size = 8 + formula.size();
}

uint64_t ShrFmla::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t ShrFmla::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  return Record::Write(out);
}

ShrFmla1::ShrFmla1() : ShrFmla(Code::kShrFmla1) {}

// ---------------------------------------------------------------------------
// Table

Table::Table()
    : Record(Code::kTable),
      first_row(0),
      last_row(0),
      first_col(0),
      last_col(0),
      options(0),
      input1_row(0),
      input1_col(0),
      input2_row(0),
      input2_col(0) {
  data_size = 16;
  record_size = 20;
}

template <class Visit>
void Table::Fields(const Visit& visit) {
  visit(first_row, 0);
  visit(last_row, 2);
  visit(first_col, 4);
  visit(last_col, 5);
  visit(options, 6);
  visit(input1_row, 8);
  visit(input1_col, 10);
  visit(input2_row, 12);
  visit(input2_col, 14);
}

uint64_t Table::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 16) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Table::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// String

String::String() : Record(Code::kString) {}

}  // namespace FormulaParts

// ---------------------------------------------------------------------------
// Formula

Formula::Formula()
    : Record(0x0006),
      row(0),
      col(0),
      xf_index(0),
      result{},
      options(0),
      reserved(0),
      companion(FormulaParts::Code::kNone) {
  data_size = 18;
  record_size = 22;
}

template <class Visit>
void Formula::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
  visit(result, 6);
  visit(options, 14);
  visit(reserved, 16, 2);
  visit(formula, 18);
}

Record* Formula::Companion() {
  switch (companion) {
    case FormulaParts::Code::kTable:
      return &table;
    case FormulaParts::Code::kShrFmla:
      return &shr_fmla;
    case FormulaParts::Code::kArray:
      return &array;
    case FormulaParts::Code::kShrFmla1:
      return &shr_fmla1;
    default:
      return nullptr;
  }
}

uint64_t Formula::Read(const char* bytes, uint64_t size) {
  uint64_t position = ReadRecord(bytes, size);
  if (!position || data.size() < 18) return 0;
  Fields(FieldGetter(data));

  // What belongs to this formula is decided afresh by each read.
  companion = FormulaParts::Code::kNone;
  string = String();

  const ByteView view(bytes, size);
  uint16_t next = 0;
  if (peek_record_code(view, position, next)) {
    companion = next;
    if (Record* part = Companion()) {
      const ByteView at = view.From(position);
      const uint64_t used = part->Read(at.data(), at.size());
      if (!used) return 0;
      position += used;
    } else {
      companion = FormulaParts::Code::kNone;
    }
  }
  if (peek_record_code(view, position, next) && next == FormulaParts::Code::kString) {
    const ByteView at = view.From(position);
    const uint64_t used = string.Read(at.data(), at.size());
    if (!used) return 0;
    position += used;
  }
  return position;
}

uint64_t Formula::DataSize() {
  return data_size = 18 + formula.size();
}

uint64_t Formula::RecordSize() {
  uint64_t total = FramedSize(DataSize());
  if (Record* part = Companion()) total += part->RecordSize();
  if (string.DataSize() != 0) total += string.RecordSize();
  return record_size = total;
}

uint64_t Formula::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  uint64_t position = Record::Write(out);
  if (Record* part = Companion()) position += part->Write(out + position);
  if (string.DataSize() != 0) position += string.Write(out + position);
  return position;
}

// ---------------------------------------------------------------------------
// A formula of one constant

namespace {

// Tokens of a constant: a text, an error, a boolean, a 16-bit unsigned
// integer, a double.
constexpr uint8_t kTokenText = 0x17;
constexpr uint8_t kTokenError = 0x1C;
constexpr uint8_t kTokenBoolean = 0x1D;
constexpr uint8_t kTokenInteger = 0x1E;
constexpr uint8_t kTokenNumber = 0x1F;

// A result whose last two bytes are 0xFFFF is no number: its first byte
// says what it is, its third byte holds a boolean's or error's value.
constexpr uint8_t kResultText = 0;
constexpr uint8_t kResultBoolean = 1;
constexpr uint8_t kResultError = 2;

// The formula bytes begin with the last two bytes of the reserved field;
// then come the token bytes' length and the tokens.
constexpr uint64_t kTokensLength = 2;
constexpr uint64_t kTokens = 4;

double double_of(uint64_t bits) {
  double value = 0.0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// count characters from at, one or two bytes each; false when they do not
// fit the view.
bool take_chars(const ByteView& view, uint64_t at, uint64_t count, bool wide,
                std::u16string& text) {
  text.clear();
  for (uint64_t i = 0; i < count; ++i) {
    if (wide) {
      uint16_t c = 0;
      if (!view.Get(c, at + 2 * i)) return false;
      text.push_back(static_cast<char16_t>(c));
    } else {
      uint8_t c = 0;
      if (!view.Get(c, at + i)) return false;
      text.push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

// A text of count characters and a flags byte (bit 0: 16-bit characters,
// no other bit) that fills the view from at exactly.
bool exact_text(const ByteView& view, uint64_t at, uint64_t count, uint8_t flags,
                std::u16string& text) {
  if (flags > 1) return false;
  const uint64_t bytes = count * (flags ? 2u : 1u);
  return at + bytes == view.size() && take_chars(view, at, count, flags != 0, text);
}

}  // namespace

bool Formula::Constant(FormulaConstant& constant) const {
  using Kind = FormulaConstant::Kind;
  if (companion != FormulaParts::Code::kNone) return false;
  const ByteView bytes(formula.data(), formula.size());
  uint16_t length = 0;
  uint8_t token = 0;
  if (!bytes.Get(length, kTokensLength) || !bytes.Get(token, kTokens)) return false;
  // The tokens are the rest of the bytes: nothing follows them.
  const ByteView tokens(formula.data() + kTokens, formula.size() - kTokens);
  if (tokens.size() != length) return false;

  const bool special = result[6] == 0xFF && result[7] == 0xFF;
  uint64_t result_bits = 0;
  ByteCodec::Get(result, result_bits, 0);
  const double result_number = double_of(result_bits);
  const bool has_string = string.data_size != 0;
  FormulaConstant found;
  switch (token) {
    case kTokenError:
    case kTokenBoolean: {
      uint8_t value = 0;
      if (tokens.size() != 2 || !tokens.Get(value, 1) || has_string) return false;
      const bool error = token == kTokenError;
      if (error ? !ExcelCell::IsErrorCode(value) : value > 1) return false;
      if (!special || result[0] != (error ? kResultError : kResultBoolean) || result[2] != value)
        return false;
      found.kind = error ? Kind::kError : Kind::kBoolean;
      found.code = value;
      break;
    }
    case kTokenInteger: {
      uint16_t value = 0;
      if (tokens.size() != 3 || !tokens.Get(value, 1) || has_string) return false;
      found.kind = Kind::kNumber;
      found.number = value;
      if (special || result_number != found.number) return false;
      break;
    }
    case kTokenNumber: {
      uint64_t bits = 0;
      if (tokens.size() != 9 || !tokens.Get(bits, 1) || has_string) return false;
      found.number = double_of(bits);
      found.kind = Kind::kNumber;
      if (!std::isfinite(found.number) || special || result_number != found.number) return false;
      break;
    }
    case kTokenText: {
      uint8_t count = 0;
      uint8_t flags = 0;
      if (!tokens.Get(count, 1) || !tokens.Get(flags, 2) ||
          !exact_text(tokens, 3, count, flags, found.text))
        return false;
      found.kind = Kind::kText;
      found.wide = flags != 0;
      // The result is the text, in the String record that follows.
      if (!special || result[0] != kResultText || !has_string || !string.continue_indices.empty())
        return false;
      const ByteView record(string.data.data(), string.data.size());
      uint16_t result_count = 0;
      uint8_t result_flags = 0;
      std::u16string result_text;
      if (!record.Get(result_count, 0) || !record.Get(result_flags, 2) ||
          !exact_text(record, 3, result_count, result_flags, result_text) ||
          result_text != found.text)
        return false;
      // A cell's text ends at a zero character, and an empty text is no
      // value.
      if (found.text.empty() || found.text.find(u'\0') != std::u16string::npos) return false;
      break;
    }
    default:
      return false;
  }
  constant = found;
  return true;
}

}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
