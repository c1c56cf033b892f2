#include "globals_records.h"

#include <algorithm>

namespace YCompoundFiles {
namespace YExcel {
namespace GlobalsRecords {

// ---------------------------------------------------------------------------
// Window1

Window1::Window1()
    : Record(0x003D),
      horizontal_position(120),
      vertical_position(120),
      width(15135),
      height(9300),
      options(0x0038),
      active_sheet(0),
      first_visible_tab(0),
      selected_sheets(1),
      tab_bar_width(600) {
  data_size = 18;
  record_size = 22;
}

template <class Visit>
void Window1::Fields(const Visit& visit) {
  visit(horizontal_position, 0);
  visit(vertical_position, 2);
  visit(width, 4);
  visit(height, 6);
  visit(options, 8);
  visit(active_sheet, 10);
  visit(first_visible_tab, 12);
  visit(selected_sheets, 14);
  visit(tab_bar_width, 16);
}

uint64_t Window1::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t Window1::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Font

Font::Font()
    : Record(0x0031),
      height(200),
      options(0),
      colour_index(0x7FFF),
      weight(400),
      escapement(0),
      underline(0),
      family(0),
      character_set(0),
      reserved(0) {
  name = u"Arial";
  DataSize();
  RecordSize();
}

template <class Visit>
void Font::Fields(const Visit& visit) {
  visit(height, 0);
  visit(options, 2);
  visit(colour_index, 4);
  visit(weight, 6);
  visit(escapement, 8);
  visit(underline, 10);
  visit(family, 11);
  visit(character_set, 12);
  visit(reserved, 13);
}

uint64_t Font::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 14) return 0;
  Fields(FieldGetter(data));
  if (!name.Read(data.data() + 14, data.size() - 14)) return 0;
  return consumed;
}

uint64_t Font::DataSize() {
  return data_size = 14 + name.DataSize();
}

uint64_t Font::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t Font::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  name.Write(data.data() + 14);
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// XF

XF::XF()
    : Record(0x00E0),
      font_index(0),
      format_index(0),
      protection(0xFFF5),
      alignment(0x20),
      rotation(0),
      text_properties(0),
      used_attributes(0),
      border_lines(0),
      border_colours(0),
      fill_colours(0x20C0) {
  data_size = 20;
  record_size = 24;
}

template <class Visit>
void XF::Fields(const Visit& visit) {
  visit(font_index, 0);
  visit(format_index, 2);
  visit(protection, 4);
  visit(alignment, 6);
  visit(rotation, 7);
  visit(text_properties, 8);
  visit(used_attributes, 9);
  visit(border_lines, 10);
  visit(border_colours, 14);
  visit(fill_colours, 18);
}

uint64_t XF::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t XF::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// Style

Style::Style() : Record(0x0293), xf_index(0x8000), identifier(0), level(0xFF) {
  DataSize();
  RecordSize();
}

uint64_t Style::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || !ByteCodec::Get(data, xf_index, 0)) return 0;
  if (IsBuiltIn()) {
    if (!ByteCodec::Get(data, identifier, 2) || !ByteCodec::Get(data, level, 3)) return 0;
  } else if (data.size() < 2 || !name.Read(data.data() + 2, data.size() - 2)) {
    return 0;
  }
  return consumed;
}

uint64_t Style::DataSize() {
  return data_size = IsBuiltIn() ? 4 : 2 + name.DataSize();
}

uint64_t Style::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t Style::Write(char* out) {
  data.assign(DataSize(), 0);
  ByteCodec::Put(data, xf_index, 0);
  if (IsBuiltIn()) {
    ByteCodec::Put(data, identifier, 2);
    ByteCodec::Put(data, level, 3);
  } else {
    name.Write(data.data() + 2);
  }
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// BoundSheet

BoundSheet::BoundSheet() : Record(0x0085), position(0), visibility(0), type(0) {
  name = "Sheet1";
  DataSize();
  RecordSize();
}

template <class Visit>
void BoundSheet::Fields(const Visit& visit) {
  visit(position, 0);
  visit(visibility, 4);
  visit(type, 5);
}

uint64_t BoundSheet::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 6) return 0;
  Fields(FieldGetter(data));
  if (!name.Read(data.data() + 6, data.size() - 6)) return 0;
  return consumed;
}

uint64_t BoundSheet::DataSize() {
  return data_size = 6 + name.DataSize();
}

uint64_t BoundSheet::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t BoundSheet::Write(char* out) {
  data.assign(DataSize(), 0);
  Fields(FieldPutter(data));
  name.Write(data.data() + 6);
  return Record::Write(out);
}

// ---------------------------------------------------------------------------
// ExtSST

ExtSST::ExtSST() : Record(0x00FF), strings_per_bucket(0) {
  DataSize();
  RecordSize();
}

uint64_t ExtSST::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  ByteCodec::Get(data, strings_per_bucket, 0);
  const uint64_t buckets = data.size() < 2 ? 0 : (data.size() - 2) / 8;
  positions.assign(buckets, 0);
  offsets.assign(buckets, 0);
  reserved.assign(buckets, 0);
  for (uint64_t i = 0; i < buckets; ++i) {
    ByteCodec::Get(data, positions[i], 2 + 8 * i);
    ByteCodec::Get(data, offsets[i], 6 + 8 * i);
    ByteCodec::Get(data, reserved[i], 8 + 8 * i);
  }
  return consumed;
}

uint64_t ExtSST::DataSize() {
  return data_size = 2 + 8 * std::min({positions.size(), offsets.size(), reserved.size()});
}

uint64_t ExtSST::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t ExtSST::Write(char* out) {
  data.assign(DataSize(), 0);
  ByteCodec::Put(data, strings_per_bucket, 0);
  for (uint64_t i = 0; 2 + 8 * i < data_size; ++i) {
    ByteCodec::Put(data, positions[i], 2 + 8 * i);
    ByteCodec::Put(data, offsets[i], 6 + 8 * i);
    ByteCodec::Put(data, reserved[i], 8 + 8 * i);
  }
  return Record::Write(out);
}

}  // namespace GlobalsRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
