#include "worksheet_records.h"

#include <algorithm>

namespace YCompoundFiles {
namespace YExcel {
namespace WorksheetRecords {

// ---------------------------------------------------------------------------
// Index

Index::Index()
    : Record(Code::kIndex),
      reserved1(0),
      first_used_row(0),
      first_unused_row(0),
      reserved2(0),
      dbcell_positions(1, 0) {
  data_size = 16;
  record_size = 20;
}

template <class Visit>
void Index::Fields(const Visit& visit) {
  visit(reserved1, 0);
  visit(first_used_row, 4, 4);
  visit(first_unused_row, 8, 4);
  visit(reserved2, 12);
}

uint64_t Index::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  // The row range, not the data length, says how many blocks there are;
  // it is bounded so that a damaged range cannot ask for more than a sheet.
  const int64_t span =
      static_cast<int64_t>(first_unused_row) - static_cast<int64_t>(first_used_row) - 1;
  const int64_t blocks = span / 32 + 1;
  const uint64_t n = static_cast<uint64_t>(std::clamp<int64_t>(blocks, 1, kMaxBlocks));
  dbcell_positions.assign(n, 0);
  for (uint64_t i = 0; i < n && 16 + 4 * i + 4 <= data.size(); ++i)
    ByteCodec::Get(data, dbcell_positions[i], 16 + 4 * i, 4);
  return consumed;
}

uint64_t Index::DataSize() {
  return data_size = 16 + 4 * dbcell_positions.size();
}

uint64_t Index::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t Index::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  for (uint64_t i = 0; i < dbcell_positions.size(); ++i)
    ByteCodec::Put(data, dbcell_positions[i], 16 + 4 * i, 4);
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Dimensions

Dimensions::Dimensions()
    : Record(Code::kDimensions),
      first_used_row(0),
      first_unused_row(0),
      first_used_col(0),
      first_unused_col(0),
      reserved(0) {
  data_size = 14;
  record_size = 18;
}

template <class Visit>
void Dimensions::Fields(const Visit& visit) {
  visit(first_used_row, 0, 4);
  visit(first_unused_row, 4, 4);
  visit(first_used_col, 8);
  visit(first_unused_col, 10);
  visit(reserved, 12);
}

uint64_t Dimensions::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Dimensions::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Row

Row::Row()
    : Record(Code::kRow),
      row_index(0),
      first_used_col(0),
      first_unused_col(0),
      height(255),
      reserved1(0),
      reserved2(0),
      options(0) {
  data_size = 16;
  record_size = 20;
}

template <class Visit>
void Row::Fields(const Visit& visit) {
  visit(row_index, 0);
  visit(first_used_col, 2);
  visit(first_unused_col, 4);
  visit(height, 6);
  visit(reserved1, 8);
  visit(reserved2, 10);
  visit(options, 12);
}

uint64_t Row::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Row::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// DBCell

DBCell::DBCell() : Record(Code::kDBCell), first_row_offset(0) {
  data_size = 4;
  record_size = 8;
}

uint64_t DBCell::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  ByteCodec::Get(data, first_row_offset, 0);
  const uint64_t n = data.size() < 4 ? 0 : (data.size() - 4) / 2;
  row_offsets.assign(n, 0);
  for (uint64_t i = 0; i < n; ++i) ByteCodec::Get(data, row_offsets[i], 4 + 2 * i);
  return consumed;
}

uint64_t DBCell::DataSize() {
  return data_size = 4 + 2 * row_offsets.size();
}

uint64_t DBCell::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t DBCell::Write(char* out) {
  data.assign(DataSize(), 0);
  ByteCodec::Put(data, first_row_offset, 0);
  for (uint64_t i = 0; i < row_offsets.size(); ++i) ByteCodec::Put(data, row_offsets[i], 4 + 2 * i);
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Window2

Window2::Window2()
    : Record(Code::kWindow2),
      options(0x06B6),
      first_visible_row(0),
      first_visible_col(0),
      grid_colour(64),
      reserved1(0),
      page_break_zoom(0),
      normal_zoom(0),
      reserved2(0) {
  data_size = 18;
  record_size = 22;
}

template <class Visit>
void Window2::Fields(const Visit& visit) {
  visit(options, 0);
  visit(first_visible_row, 2);
  visit(first_visible_col, 4);
  visit(grid_colour, 6);
  visit(reserved1, 8);
  visit(page_break_zoom, 10);
  visit(normal_zoom, 12);
  visit(reserved2, 14);
}

uint64_t Window2::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Window2::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

}  // namespace WorksheetRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
