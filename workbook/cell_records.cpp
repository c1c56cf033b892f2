#include "cell_records.h"

#include <algorithm>

#include "byte_view.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {

bool is_cell_record_code(uint16_t code) {
  switch (code) {
    case Code::kFormula:
    case Code::kMulRK:
    case Code::kMulBlank:
    case Code::kLabelSST:
    case Code::kBlank:
    case Code::kNumber:
    case Code::kBoolErr:
    case Code::kRK:
    case Code::kLabel:
    case Code::kRString:
      return true;
    default:
      return false;
  }
}

namespace {

// Entries of a MulBlank or MulRK from its column fields, or 0 when the
// columns are reversed or promise more entries than the data holds.
uint64_t entry_count(uint16_t first, uint16_t last, uint64_t data_bytes, uint64_t entry_bytes) {
  if (last < first) return 0;
  const uint64_t n = uint64_t{last} - first + 1;
  return 6 + n * entry_bytes <= data_bytes ? n : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Blank

Blank::Blank() : Record(Code::kBlank), row(0), col(0), xf_index(0) {
  data_size = 6;
  record_size = 10;
}

template <class Visit>
void Blank::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
}

uint64_t Blank::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 6) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Blank::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// BoolErr

BoolErr::BoolErr() : Record(Code::kBoolErr), row(0), col(0), xf_index(0), value(0), error(0) {
  data_size = 8;
  record_size = 12;
}

template <class Visit>
void BoolErr::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
  visit(value, 6);
  visit(error, 7);
}

uint64_t BoolErr::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 8) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t BoolErr::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// LabelSST

LabelSST::LabelSST() : Record(Code::kLabelSST), row(0), col(0), xf_index(0), string_index(0) {
  data_size = 10;
  record_size = 14;
}

template <class Visit>
void LabelSST::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
  visit(string_index, 6, 4);
}

uint64_t LabelSST::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 10) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t LabelSST::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Label

Label::Label() : Record(Code::kLabel), row(0), col(0), xf_index(0) {
  text = "";
}

uint64_t Label::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  const ByteView view(data.data(), data.size());
  uint16_t count = 0;
  uint8_t flags = 0;
  if (!consumed || !view.Get(row, 0) || !view.Get(col, 2) || !view.Get(xf_index, 4) ||
      !view.Get(count, 6) || !view.Get(flags, 8))
    return 0;
  // The characters of each part: the first after the string's header, the
  // others after their own flags byte.
  const uint64_t first_end = continue_indices.empty() ? data.size() : continue_indices[0];
  if (first_end < 9) return 0;
  const uint64_t width = (flags & 1) ? 2 : 1;
  const uint64_t first = std::min<uint64_t>(count, (first_end - 9) / width);
  text = "";
  if (!text.AppendCharacters(data.data() + 9, first_end - 9, first, (flags & 1) != 0)) return 0;
  uint64_t left = count - first;
  for (size_t k = 0; left > 0 && k < continue_indices.size(); ++k) {
    const uint64_t begin = continue_indices[k];
    const uint64_t end = k + 1 < continue_indices.size() ? continue_indices[k + 1] : data.size();
    uint8_t part_flags = 0;
    if (!view.Get(part_flags, begin)) return 0;
    const uint64_t n = std::min<uint64_t>(left, (end - begin - 1) / ((part_flags & 1) ? 2 : 1));
    if (n == 0 || !text.ReadCharacters(data.data() + begin, end - begin, n)) return 0;
    left -= n;
  }
  return left == 0 ? consumed : 0;
}

// ---------------------------------------------------------------------------
// Number

Number::Number() : Record(Code::kNumber), row(0), col(0), xf_index(0), value(0.0) {
  data_size = 14;
  record_size = 18;
}

template <class Visit>
void Number::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
  visit(value, 6);
}

uint64_t Number::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 14) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Number::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// RK

RK::RK() : Record(Code::kRK), row(0), col(0), xf_index(0), value(0) {
  data_size = 10;
  record_size = 14;
}

template <class Visit>
void RK::Fields(const Visit& visit) {
  visit(row, 0);
  visit(col, 2);
  visit(xf_index, 4);
  visit(value, 6);
}

uint64_t RK::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 10) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t RK::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// MulBlank

MulBlank::MulBlank() : Record(Code::kMulBlank), row(0), first_col(0), last_col(0) {
  data_size = 10;
  record_size = 14;
}

// Run on data of the record's full size: the last column is its last word.
template <class Visit>
void MulBlank::Fields(const Visit& visit) {
  visit(row, 0);
  visit(first_col, 2);
  visit(last_col, data.size() - 2);
}

template <class Visit>
void MulBlank::Entries(const Visit& visit) {
  for (uint64_t i = 0; i < xf_indices.size(); ++i) visit(xf_indices[i], 4 + 2 * i);
}

uint64_t MulBlank::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 6) return 0;
  Fields(FieldGetter(data));
  const uint64_t n = entry_count(first_col, last_col, data.size(), 2);
  if (n == 0) return 0;
  xf_indices.assign(n, 0);
  Entries(FieldGetter(data));
  return consumed;
}

uint64_t MulBlank::DataSize() {
  return data_size = 6 + 2 * xf_indices.size();
}

uint64_t MulBlank::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t MulBlank::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  Entries(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// MulRK

MulRK::MulRK() : Record(Code::kMulRK), row(0), first_col(0), last_col(0) {
  data_size = 10;
  record_size = 14;
}

template <class Visit>
void MulRK::Fields(const Visit& visit) {
  visit(row, 0);
  visit(first_col, 2);
  visit(last_col, data.size() - 2);
}

template <class Visit>
void MulRK::Entries(const Visit& visit) {
  for (uint64_t i = 0; i < entries.size(); ++i) entries[i].Fields(visit, 4 + 6 * i);
}

uint64_t MulRK::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 6) return 0;
  Fields(FieldGetter(data));
  const uint64_t n = entry_count(first_col, last_col, data.size(), 6);
  if (n == 0) return 0;
  entries.assign(n, MulRKEntry());
  Entries(FieldGetter(data));
  return consumed;
}

uint64_t MulRK::DataSize() {
  return data_size = 6 + 6 * entries.size();
}

uint64_t MulRK::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t MulRK::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  Entries(FieldPutter(data));
  return Record::Write(out);
}

}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
