#pragma once
// One cell of a sheet: nothing, an integer, a double, a narrow (8-bit)
// string or a wide (UTF-16) string, a boolean or an error value (such as
// #NUM!), and the index of its cell format (XF
// record; 0 unless set), which a value or its erasure leaves as it is: an
// empty cell with a format is written back as a blank cell.
//
// A cell is its value: assigning one cell to another copies the value
// (kind, number or text, format), never the place. A cell of no sheet (a
// copy) holds a text of its own for as long as it lives, readable on any
// thread.
//
// A cell is a compact tagged value of 16 bytes: the value, or a pointer to
// its text, beside the kind, the format index and its place. A cell of a
// sheet shows a text of its workbook's table of texts (TextTable), which
// holds each text once however many cells show it; a cell of no sheet owns
// a text block on the heap.
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

  ExcelCell() : data_{{0}, 0, kUndefined, 0, 0, kShown, 0} {}
  // The value, its text copied; a new cell stands in no place.
  ExcelCell(const ExcelCell& other);
  // The value, its text handed over from a cell of no sheet, which is left
  // without it (undefined); the text of a cell of a sheet is copied.
  ExcelCell(ExcelCell&& other) noexcept;
  // Assignment copies (or, from a temporary, takes) the value and keeps the
  // place: a cell of a sheet stays where it is and is saved there.
  ExcelCell& operator=(const ExcelCell& other);
  ExcelCell& operator=(ExcelCell&& other) noexcept;
  ~ExcelCell() { ReleaseText(); }

  uint32_t Type() const { return data_.type; }
  // Whether a formula of the workbook's file computes the value, which is
  // then its last result: the formula is written back with it for as long
  // as the cell keeps it. Any change of the value (not of the format)
  // replaces the formula; a copy holds the value alone.
  bool IsFormula() const { return (data_.marks & kFormula) != 0; }

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
  // The cell's text (valid until its value changes, or its sheet goes), or
  // null when the cell holds no string of that width.
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

  uint16_t Format() const { return data_.xf; }
  void SetFormat(uint16_t xf) { data_.xf = xf; }

  // The place the cell stands in, kept by the sheet that holds it (0 for a
  // cell of no sheet).
  uint8_t Column() const { return data_.column; }
  uint16_t Row() const { return data_.row; }

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

 private:
  friend class ExcelSheet;
  friend class SharedStrings;
  union Value {
    int32_t integer;
    double number;
    const void* text;
    uint32_t id;
  };

  // For a sheet reading its workbook's file: a text of its workbook's
  // table (by id), which outlives the cell, shown uncounted.
  void ShowText(uint32_t id, bool wide);
  // A text read from a file: a text cell even when the text is empty.
  void SetText(std::string_view text);
  void SetText(std::u16string_view text);
  template <class Char>
  void PutText(std::basic_string_view<Char> text, CellType type);
  // The text goes only after the new one is in hand (it may be a piece of
  // the old one, or the same).
  void Replace(Value text, CellType type, uint8_t kind);
  // Every change of the value goes through here: the formula goes too.
  void ReleaseText() {
    data_.marks &= static_cast<uint8_t>(~kFormula);
    if (data_.text != kShown) ReleaseHeldText();
  }
  // For the sheet reading a formula, after its result.
  void MarkFormula() { data_.marks |= kFormula; }
  void ReleaseHeldText();
  bool HoldsText() const { return data_.type == kNarrowString || data_.type == kWideString; }
  // The value of other, its text copied or, between cells of one
  // workbook, shown once more.
  void CopyValue(const ExcelCell& other);
  // The table of texts of the cell's sheet, or null (a cell of no sheet).
  TextTable* SheetTexts() const;
  // A string cell's text's id in its sheet's table (for a text not of
  // its own).
  uint32_t TextId() const { return data_.value.id; }
  template <class Char>
  const Char* Text() const;

  // How a string cell holds its text: shown from its sheet's table that
  // outlives it (and the cell of a non-string value), its own block, or a
  // shared text of its sheet's table, counted. Texts of the table are held
  // by id, a text of its own by its characters.
  enum TextKind : uint8_t { kShown = 0, kOwn = 1, kSharedText = 2 };
  enum Marks : uint8_t { kInSheet = 1, kFormula = 2 };

  // Plain data of 16 bytes.
  struct Data {
    Value value;
    uint16_t xf;
    uint8_t type;
    uint8_t column;
    uint16_t row;
    // How the text is held (TextKind).
    uint8_t text;
    // kInSheet for the cells of a sheet, whose page leads to its table of
    // texts; kFormula while a formula of the file computes the value.
    uint8_t marks;
  };
  Data data_;
};

// An integer or double cell as a number, a narrow string as its text; other
// cells write nothing.
std::ostream& operator<<(std::ostream& out, const ExcelCell& cell);

}  // namespace YExcel
}  // namespace YCompoundFiles
