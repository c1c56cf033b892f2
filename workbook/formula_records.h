#pragma once
// The formula cell record and the records that belong to it and stand
// directly after it in a worksheet: one of Array, ShrFmla, ShrFmla1 or
// Table, then optionally String (the formula's text result). The worksheet
// containers name them CellBlock::Formula and Formula::Array and so on.
//
// Formulas are only ever read from a file and written back: their token
// bytes are kept verbatim. The one thing read from them is whether the
// formula is a single constant (Formula::Constant), which some spreadsheet
// programs write in place of an error, boolean or other plain value. A
// Formula's Read consumes its companions too, and its RecordSize and Write
// cover them.
//
// Records too short for their fixed fields are refused (Read returns 0).
#include <cstdint>
#include <string>
#include <vector>

#include "record.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {
namespace FormulaParts {

namespace Code {
constexpr uint16_t kTable = 0x0036;
constexpr uint16_t kShrFmla = 0x00BC;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kShrFmla1 = 0x04BC;
constexpr uint16_t kNone = 0xFFFF;
}  // namespace Code

// 0x0221: 0 u16 first row, 2 u16 last row, 4 u8 first column, 5 u8 last
// column, 6 u16 options, 8 u32 reserved, from 12 the formula bytes.
struct Array : Record {
  Array();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 12 + formula bytes
  uint64_t RecordSize() override;

  uint16_t first_row;
  uint16_t last_row;
  uint8_t first_col;
  uint8_t last_col;
  uint16_t options;
  uint32_t reserved;
  std::vector<char> formula;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x00BC: 0 u16 first row, 2 u16 last row, 4 u8 first column, 5 u8 last
// column, 6 u16 reserved, from 8 the formula bytes.
struct ShrFmla : Record {
  ShrFmla();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;  // 8 + formula bytes
  uint64_t RecordSize() override;

  uint16_t first_row;
  uint16_t last_row;
  uint8_t first_col;
  uint8_t last_col;
  uint16_t reserved;
  std::vector<char> formula;

 protected:
  explicit ShrFmla(uint16_t record_code);

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x04BC: ShrFmla under another code.
struct ShrFmla1 : ShrFmla {
  ShrFmla1();
};

// 0x0036, 16 data bytes: 0 u16 first row, 2 u16 last row, 4 u8 first
// column, 5 u8 last column, 6 u16 options, 8 and 10 row and column of input
// cell 1, 12 and 14 row and column of input cell 2.
struct Table : Record {
  Table();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  uint16_t first_row;
  uint16_t last_row;
  uint8_t first_col;
  uint8_t last_col;
  uint16_t options;
  uint16_t input1_row;
  uint16_t input1_col;
  uint16_t input2_row;
  uint16_t input2_col;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// 0x0207: the formula's text result. Its data (with any CONTINUE parts) is
// kept as read and written back as it was; empty (data size 0) when none.
struct String : Record {
  String();
};

}  // namespace FormulaParts

// The value of a formula that is one constant.
struct FormulaConstant {
  enum class Kind { kError, kBoolean, kNumber, kText };
  Kind kind = Kind::kNumber;
  uint8_t code = 0;  // kError: the error code; kBoolean: 0 or 1
  double number = 0.0;
  // kText: the characters, and whether the formula held them as 16-bit
  // characters (else each is one byte, U+0000 to U+00FF).
  std::u16string text;
  bool wide = false;
};

// 0x0006: 0 row, 2 column, 4 XF index, 6 the result (8 bytes as they are),
// 14 u16 options, 16 two reserved bytes, from 18 the formula bytes.
struct Formula : Record {
  using Array = FormulaParts::Array;
  using ShrFmla = FormulaParts::ShrFmla;
  using ShrFmla1 = FormulaParts::ShrFmla1;
  using Table = FormulaParts::Table;
  using String = FormulaParts::String;

  Formula();
  // Reads the Formula, the companion record that directly follows it (if
  // any) and then a String record (if one follows); returns the bytes of
  // all of them.
  uint64_t Read(const char* bytes, uint64_t size) override;
  // Writes the Formula, its companion and its String (when not empty).
  uint64_t Write(char* out) override;
  uint64_t DataSize() override;    // 18 + formula bytes; the Formula alone
  uint64_t RecordSize() override;  // the Formula, its companion and String

  // True when the formula is exactly one constant token (an error, a
  // boolean, an integer, a number or a non-empty text without a zero
  // character), has no shared, array or table companion, and its result
  // (for a text, the String record) holds that same value; the value goes
  // to constant. Such a formula is a plain value under another name.
  bool Constant(FormulaConstant& constant) const;

  uint16_t row;
  uint16_t col;
  uint16_t xf_index;
  uint8_t result[8];
  uint16_t options;
  uint32_t reserved;  // 2 bytes on file
  std::vector<char> formula;
  // Code of the companion in use: Table, ShrFmla, Array, ShrFmla1, or
  // FormulaParts::Code::kNone.
  uint16_t companion;
  Array array;
  ShrFmla shr_fmla;
  ShrFmla1 shr_fmla1;
  Table table;
  String string;

 private:
  Record* Companion();
  template <class Visit>
  void Fields(const Visit& visit);
};

}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
