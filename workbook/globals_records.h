#pragma once
// Records of the workbook-globals substream: window, fonts, cell formats,
// styles, sheet entries and the string-table bucket index. The shared
// string table has its own header. The Workbook container names them
// Workbook::Window1, Workbook::Font and so on.
//
// Read, Write and the sizes follow the rules of record.h. Offsets below are
// offsets in the record's data (after the 4-byte header); every field is
// little-endian. Defaults are what the constructors set.
//
// Fixed-layout records (Window1, XF) read fields their data lacks as zero
// and write back any data beyond their fields unchanged. Records with a
// name (Font, Style, BoundSheet) refuse (Read returns 0) data too short for
// their fields and name.
#include <cstdint>
#include <vector>

#include "record.h"
#include "unicode_strings.h"

namespace YCompoundFiles {
namespace YExcel {
namespace GlobalsRecords {

// 0x003D, 18 data bytes.
struct Window1 : Record {
  Window1();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t horizontal_position;  // 0: 120
  uint16_t vertical_position;    // 2: 120
  uint16_t width;                // 4: 15135
  uint16_t height;               // 6: 9300
  uint16_t options;              // 8: 0x0038
  uint16_t active_sheet;         // 10: 0
  uint16_t first_visible_tab;    // 12: 0
  uint16_t selected_sheets;      // 14: 1
  uint16_t tab_bar_width;        // 16: 600 (per thousand)

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0031, 14 data bytes and the name.
struct Font : Record {
  Font();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 14 + the name's size
  uint64_t RecordSize() override;

  uint16_t height;          // 0: 200 (twentieths of a point)
  uint16_t options;         // 2: 0
  uint16_t colour_index;    // 4: 0x7FFF
  uint16_t weight;          // 6: 400
  uint16_t escapement;      // 8: 0
  uint8_t underline;        // 10: 0
  uint8_t family;           // 11: 0
  uint8_t character_set;    // 12: 0
  uint8_t reserved;         // 13: 0
  ShortUnicodeString name;  // 14: "Arial", 16-bit characters

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00E0, 20 data bytes.
struct XF : Record {
  XF();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t font_index;      // 0: 0
  uint16_t format_index;    // 2: 0
  uint16_t protection;      // 4: 0xFFF5 (protection, cell/style type, parent style)
  uint8_t alignment;        // 6: 0x20
  uint8_t rotation;         // 7: 0
  uint8_t text_properties;  // 8: 0 (indent, shrink, text direction)
  uint8_t used_attributes;  // 9: 0
  uint32_t border_lines;    // 10: 0
  uint32_t border_colours;  // 14: 0
  uint16_t fill_colours;    // 18: 0x20C0

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0293. A built-in style (bit 15 of xf_index set) carries identifier and
// level at offsets 2 and 3; a user-defined one carries its name there.
struct Style : Record {
  Style();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 4, or 2 + the name's size
  uint64_t RecordSize() override;

  bool IsBuiltIn() const { return (xf_index & 0x8000) != 0; }

  uint16_t xf_index;       // 0: 0x8000 (XF index in bits 0-11, built-in flag bit 15)
  uint8_t identifier;      // 2: 0
  uint8_t level;           // 3: 0xFF
  LongUnicodeString name;  // 2: empty
};

// 0x0085, 6 data bytes and the name.
struct BoundSheet : Record {
  BoundSheet();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 6 + the name's size
  uint64_t RecordSize() override;

  uint32_t position;        // 0: 0, stream offset of the sheet's BOF record
  uint8_t visibility;       // 4: 0
  uint8_t type;             // 5: 0
  ShortUnicodeString name;  // 6: "Sheet1", 8-bit characters

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00FF: strings per bucket, then per bucket its first string's absolute
// stream position, that string's offset inside its record and a reserved
// word. Held by the Workbook but neither filled from a file nor written.
struct ExtSST : Record {
  ExtSST();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 2 + 8 per bucket
  uint64_t RecordSize() override;

  uint16_t strings_per_bucket;  // 0
  std::vector<uint32_t> positions;
  std::vector<uint16_t> offsets;
  std::vector<uint16_t> reserved;
};

}  // namespace GlobalsRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
