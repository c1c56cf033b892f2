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

uint64_t Window1::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  ByteCodec::Get(data, horizontal_position, 0);
  ByteCodec::Get(data, vertical_position, 2);
  ByteCodec::Get(data, width, 4);
  ByteCodec::Get(data, height, 6);
  ByteCodec::Get(data, options, 8);
  ByteCodec::Get(data, active_sheet, 10);
  ByteCodec::Get(data, first_visible_tab, 12);
  ByteCodec::Get(data, selected_sheets, 14);
  ByteCodec::Get(data, tab_bar_width, 16);
  return consumed;
}

uint64_t Window1::Write(char* out) {
  SizeDataForWrite();
  ByteCodec::Put(data, horizontal_position, 0);
  ByteCodec::Put(data, vertical_position, 2);
  ByteCodec::Put(data, width, 4);
  ByteCodec::Put(data, height, 6);
  ByteCodec::Put(data, options, 8);
  ByteCodec::Put(data, active_sheet, 10);
  ByteCodec::Put(data, first_visible_tab, 12);
  ByteCodec::Put(data, selected_sheets, 14);
  ByteCodec::Put(data, tab_bar_width, 16);
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

uint64_t Font::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 14) return 0;
  ByteCodec::Get(data, height, 0);
  ByteCodec::Get(data, options, 2);
  ByteCodec::Get(data, colour_index, 4);
  ByteCodec::Get(data, weight, 6);
  ByteCodec::Get(data, escapement, 8);
  ByteCodec::Get(data, underline, 10);
  ByteCodec::Get(data, family, 11);
  ByteCodec::Get(data, character_set, 12);
  ByteCodec::Get(data, reserved, 13);
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
  ByteCodec::Put(data, height, 0);
  ByteCodec::Put(data, options, 2);
  ByteCodec::Put(data, colour_index, 4);
  ByteCodec::Put(data, weight, 6);
  ByteCodec::Put(data, escapement, 8);
  ByteCodec::Put(data, underline, 10);
  ByteCodec::Put(data, family, 11);
  ByteCodec::Put(data, character_set, 12);
  ByteCodec::Put(data, reserved, 13);
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

uint64_t XF::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  ByteCodec::Get(data, font_index, 0);
  ByteCodec::Get(data, format_index, 2);
  ByteCodec::Get(data, protection, 4);
  ByteCodec::Get(data, alignment, 6);
  ByteCodec::Get(data, rotation, 7);
  ByteCodec::Get(data, text_properties, 8);
  ByteCodec::Get(data, used_attributes, 9);
  ByteCodec::Get(data, border_lines, 10);
  ByteCodec::Get(data, border_colours, 14);
  ByteCodec::Get(data, fill_colours, 18);
  return consumed;
}

uint64_t XF::Write(char* out) {
  SizeDataForWrite();
  ByteCodec::Put(data, font_index, 0);
  ByteCodec::Put(data, format_index, 2);
  ByteCodec::Put(data, protection, 4);
  ByteCodec::Put(data, alignment, 6);
  ByteCodec::Put(data, rotation, 7);
  ByteCodec::Put(data, text_properties, 8);
  ByteCodec::Put(data, used_attributes, 9);
  ByteCodec::Put(data, border_lines, 10);
  ByteCodec::Put(data, border_colours, 14);
  ByteCodec::Put(data, fill_colours, 18);
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

uint64_t BoundSheet::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed || data.size() < 6) return 0;
  ByteCodec::Get(data, position, 0);
  ByteCodec::Get(data, visibility, 4);
  ByteCodec::Get(data, type, 5);
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
  ByteCodec::Put(data, position, 0);
  ByteCodec::Put(data, visibility, 4);
  ByteCodec::Put(data, type, 5);
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
