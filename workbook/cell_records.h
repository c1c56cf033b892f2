#pragma once
// The cell records of a worksheet: Blank, BoolErr, LabelSST, MulBlank,
// MulRK, Number and RK, and the older text cells Label and RString (the
// formula family has its own header). The
// worksheet containers name them CellBlock::Blank and so on.
//
// Read, Write and the sizes follow record.h. Offsets are offsets in the
// record's data; every field is little-endian; constructors set every field
// to 0. Rows are 0-65535, columns 0-255 on file (both u16).
//
// A cell record whose data is too short for its fields, or whose column
// range promises more entries than its data holds, is refused: Read
// returns 0. Data beyond the fields of a fixed-size record is kept and
// written back unchanged.
//
// RK values are held as their 32-bit form; RKCodec converts them.
#include <cstdint>
#include <vector>

#include "record.h"
#include "unicode_strings.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {

namespace Code {
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kMulRK = 0x00BD;
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kLabelSST = 0x00FD;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kRK = 0x027E;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kRString = 0x00D6;
}  // namespace Code

// True for the ten codes above.
bool is_cell_record_code(uint16_t code);

// 0x0201, 6 data bytes: 0 row, 2 column, 4 XF index.
struct Blank : Record {
  Blank();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0205, 8 data bytes: 0 row, 2 column, 4 XF index, 6 value (boolean 0/1
// or error code), 7 error flag (0 boolean, 1 error).
struct BoolErr : Record {
  BoolErr();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  uint8_t value;
  uint8_t error;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00FD, 10 data bytes: 0 row, 2 column, 4 XF index, 6 u32 index in the
// shared string table.
struct LabelSST : Record {
  LabelSST();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  uint64_t string_index;  // 4 bytes on file
 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0204 Label and 0x00D6 RString: 0 row, 2 column, 4 XF index, 6 the
// text as a 16-bit-count string (it may go on in CONTINUE records, each
// part opening with its own flags byte); an RString then holds its
// rich-text runs, which are not read: its text loads as a plain text cell.
// Only read: a save writes text cells as LabelSST (Write writes the record
// as it was read).
struct Label : Record {
  Label();
  uint64_t Read(const char* bytes, uint64_t size) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  LongUnicodeString text;
};

// 0x0203, 14 data bytes: 0 row, 2 column, 4 XF index, 6 IEEE 754 double.
struct Number : Record {
  Number();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  double value;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x027E, 10 data bytes: 0 row, 2 column, 4 XF index, 6 u32 RK value.
struct RK : Record {
  RK();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  uint32_t value;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00BE: 0 row, 2 first column, from 4 one u16 XF index per column, then
// the u16 last column. Data size 6 + 2n for n indices.
struct MulBlank : Record {
  MulBlank();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;
  uint64_t RecordSize() override;

  uint16_t row;
  uint16_t first_col;
  uint16_t last_col;  // not checked against the vector on Write
  std::vector<uint16_t> xf_indices;

 private:
  // Row and columns; the last column follows the entries.
  template <class Visit>
  void Fields(const Visit& visit);
  template <class Visit>
  void Entries(const Visit& visit);
};

// One column of a MulRK: 6 bytes on file, XF index at 0, RK value at 2.
struct MulRKEntry {
  MulRKEntry() : xf_index(0), value(0) {}
  // The entry's fields, for one that starts at offset at in a record's data.
  template <class Visit>
  void Fields(const Visit& visit, uint64_t at) {
    visit(xf_index, at);
    visit(value, at + 2);
  }

  uint16_t xf_index;
  uint32_t value;
};

// 0x00BD: 0 row, 2 first column, from 4 one MulRKEntry per column, then the
// u16 last column. Data size 6 + 6n for n entries.
struct MulRK : Record {
  MulRK();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;
  uint64_t RecordSize() override;

  uint16_t row;
  uint16_t first_col;
  uint16_t last_col;  // not checked against the vector on Write
  std::vector<MulRKEntry> entries;

 private:
  // Row and columns; the last column follows the entries.
  template <class Visit>
  void Fields(const Visit& visit);
  template <class Visit>
  void Entries(const Visit& visit);
};

}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
