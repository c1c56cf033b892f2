#pragma once
// One cell of a sheet: nothing, an integer, a double, a narrow (8-bit)
// string or a wide (UTF-16) string, a boolean or an error value (such as
// #NUM!), and the index of its cell format (XF
// record; 0 unless set), which a value or its erasure leaves as it is: an
// empty cell with a format is written back as a blank cell.
//
// A cell is a compact tagged value of 16 bytes: the value, or the index of
// its text in its workbook's table of texts (TextTable), beside the kind,
// the format index, its place and the id of that table. A cell of a sheet
// adds a new text to its workbook's table, or finds an equal one there; a
// cell of no sheet keeps its texts in its thread's table of loose texts.
// Cells copy as plain values: a copy shows the same text, and is valid as
// long as the workbook whose texts it names.
#include <cstdint>
#include <ostream>
#include <string_view>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class TextTable;

class ExcelCell {
 public:
  enum CellType : uint32_t {
    kUndefined = 0,
    kInteger = 1,
    kDouble = 2,
    kNarrowString = 3,
    kWideString = 4,
    kBoolean = 5,
    kError = 6,
  };
  // The codes of the error values a cell may hold: #NULL!, #DIV/0!,
  // #VALUE!, #REF!, #NAME?, #NUM!, #N/A.
  static constexpr uint8_t kErrorCodes[] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};
  static constexpr uint8_t kErrorNum = 0x24;  // #NUM!, an impossible number
  static bool IsErrorCode(uint8_t code);

  ExcelCell();

  uint32_t Type() const { return type_; }

  // Each Get returns false, and leaves its argument untouched, when the cell
  // does not hold that kind of value.
  // Integer: the integer, or a double truncated toward zero (-2147483648
  // when out of the 32-bit range).
  bool Get(int32_t& value) const;
  // Double: the double, or the integer converted.
  bool Get(double& value) const;
  // Strings: copied with the terminator; the buffer holds
  // GetStringLength() + 1 characters.
  bool Get(char* buffer) const;
  bool Get(char16_t* buffer) const;
  bool GetBoolean(bool& value) const;
  // The error's code, one of kErrorCodes.
  bool GetError(uint8_t& code) const;

  // Characters of a string cell without the terminator; 0 for other cells.
  uint64_t GetStringLength() const;
  // As Get, with 0 or 0.0 when it fails.
  int32_t GetInteger() const;
  double GetDouble() const;
  // The cell's text (valid until a text is added to its workbook), or null
  // when the cell holds no string of that width.
  const char* GetString() const;
  const char16_t* GetWString() const;

  // Setting a value replaces the one held, text included. A string is taken
  // up to its first zero; an empty (or null) string makes the cell
  // undefined.
  void SetInteger(int32_t value);
  void SetDouble(double value);
  void SetString(const char* text);
  void SetString(const char16_t* text);
  void SetBoolean(bool value);
  // A code outside kErrorCodes leaves the cell as it is.
  void SetError(uint8_t code);
  // Undefined, the text released; the format stays.
  void EraseContents();

  uint16_t Format() const { return xf_; }
  void SetFormat(uint16_t xf) { xf_ = xf; }

  // The place the cell stands in, kept by the sheet that holds it.
  uint8_t Column() const { return column_; }
  uint16_t Row() const { return row_; }

  ExcelCell& operator=(int32_t value) {
    SetInteger(value);
    return *this;
  }
  ExcelCell& operator=(double value) {
    SetDouble(value);
    return *this;
  }
  ExcelCell& operator=(const char* text) {
    SetString(text);
    return *this;
  }
  ExcelCell& operator=(const char16_t* text) {
    SetString(text);
    return *this;
  }

  // A string cell's text: its index in the table of texts of the given id.
  uint16_t TextTableId() const { return texts_; }
  uint32_t TextIndex() const { return value_.text; }

 private:
  friend class ExcelSheet;
  // For a sheet reading its workbook's texts: the text at index in this
  // cell's table.
  void SetTextIndex(uint32_t index, bool wide);
  // A text read from a file: a text cell even when the text is empty.
  void SetText(std::string_view text);
  void SetText(std::u16string_view text);
  const TextTable* Texts() const;

  union Value {
    int32_t integer;
    double number;
    uint32_t text;
  };
  Value value_;
  uint16_t xf_;
  uint8_t type_;
  uint8_t column_;
  // The row, kept likewise, and the table id, in what would be padding.
  uint16_t row_;
  uint16_t texts_;
};

// An integer or double cell as a number, a narrow string as its text; other
// cells write nothing.
std::ostream& operator<<(std::ostream& out, const ExcelCell& cell);

}  // namespace YExcel
}  // namespace YCompoundFiles
