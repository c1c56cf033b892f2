#include "formula_records.h"

#include <cstring>

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {
namespace FormulaParts {
namespace {

// Everything from offset to the end of the data, verbatim.
void take_tail(const std::vector<char>& data, uint64_t offset, std::vector<char>& tail) {
  tail.assign(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
}

void put_tail(std::vector<char>& data, uint64_t offset, const std::vector<char>& tail) {
  if (!tail.empty()) std::memcpy(data.data() + offset, tail.data(), tail.size());
}

}  // namespace

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

uint64_t Array::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 12) return 0;
  ByteCodec::Get(data, first_row, 0);
  ByteCodec::Get(data, last_row, 2);
  ByteCodec::Get(data, first_col, 4);
  ByteCodec::Get(data, last_col, 5);
  ByteCodec::Get(data, options, 6);
  ByteCodec::Get(data, reserved, 8);
  take_tail(data, 12, formula);
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
  ByteCodec::Put(data, first_row, 0);
  ByteCodec::Put(data, last_row, 2);
  ByteCodec::Put(data, first_col, 4);
  ByteCodec::Put(data, last_col, 5);
  ByteCodec::Put(data, options, 6);
  ByteCodec::Put(data, reserved, 8);
  put_tail(data, 12, formula);
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

uint64_t ShrFmla::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 8) return 0;
  ByteCodec::Get(data, first_row, 0);
  ByteCodec::Get(data, last_row, 2);
  ByteCodec::Get(data, first_col, 4);
  ByteCodec::Get(data, last_col, 5);
  ByteCodec::Get(data, reserved, 6);
  take_tail(data, 8, formula);
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
  ByteCodec::Put(data, first_row, 0);
  ByteCodec::Put(data, last_row, 2);
  ByteCodec::Put(data, first_col, 4);
  ByteCodec::Put(data, last_col, 5);
  ByteCodec::Put(data, reserved, 6);
  put_tail(data, 8, formula);
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

uint64_t Table::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 16) return 0;
  ByteCodec::Get(data, first_row, 0);
  ByteCodec::Get(data, last_row, 2);
  ByteCodec::Get(data, first_col, 4);
  ByteCodec::Get(data, last_col, 5);
  ByteCodec::Get(data, options, 6);
  ByteCodec::Get(data, input1_row, 8);
  ByteCodec::Get(data, input1_col, 10);
  ByteCodec::Get(data, input2_row, 12);
  ByteCodec::Get(data, input2_col, 14);
  return consumed;
}

uint64_t Table::Write(char* out) {
  SizeDataForWrite();
  ByteCodec::Put(data, first_row, 0);
  ByteCodec::Put(data, last_row, 2);
  ByteCodec::Put(data, first_col, 4);
  ByteCodec::Put(data, last_col, 5);
  ByteCodec::Put(data, options, 6);
  ByteCodec::Put(data, input1_row, 8);
  ByteCodec::Put(data, input1_col, 10);
  ByteCodec::Put(data, input2_row, 12);
  ByteCodec::Put(data, input2_col, 14);
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
  ByteCodec::Get(data, row, 0);
  ByteCodec::Get(data, col, 2);
  ByteCodec::Get(data, xf_index, 4);
  std::memcpy(result, data.data() + 6, sizeof result);
  ByteCodec::Get(data, options, 14);
  ByteCodec::Get(data, reserved, 16, 2);
  formula.assign(data.begin() + 18, data.end());

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
  ByteCodec::Put(data, row, 0);
  ByteCodec::Put(data, col, 2);
  ByteCodec::Put(data, xf_index, 4);
  std::memcpy(data.data() + 6, result, sizeof result);
  ByteCodec::Put(data, options, 14);
  ByteCodec::Put(data, reserved, 16, 2);
  FormulaParts::put_tail(data, 18, formula);
  uint64_t position = Record::Write(out);
  if (Record* part = Companion()) position += part->Write(out + position);
  if (string.DataSize() != 0) position += string.Write(out + position);
  return position;
}

}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
