#pragma once
// One cell of a sheet: nothing, an integer, a double, a narrow (8-bit)
// string or a wide (UTF-16) string, a boolean or an error value (such as
// #NUM!), and the index of its cell format (XF
// record; 0 unless set), which a value or its erasure leaves as it is: an
// empty cell with a format is written back as a blank cell.
//
// A cell is its value: assigning one cell to another copies the value
// (kind, number or text, format), never the place, and a copied cell holds
// a text of its own for as long as it lives, on any thread.
//
// A cell is a compact tagged value of 16 bytes: the value, or a pointer to
// its text, beside the kind, the format index and its place. A text is a
// text block (TextTable): a cell owns a block on the heap, or, as a cell of
// a sheet showing a text read from its workbook's file, points at that
// text in its workbook's table of texts. So setting a text allocates one
// block, and loading a workbook none per cell.
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

  ExcelCell() : data_{{0}, 0, kUndefined, 0, 0, 0, 0} {}
  // The value, its text copied; a new cell stands in no place.
  ExcelCell(const ExcelCell& other);
  // The value, its text handed over; the other cell is left without it
  // (undefined). A text a cell of a sheet shows from its workbook's file is
  // copied instead.
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
  bool IsFormula() const { return data_.formula != 0; }

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
  // The cell's text (valid until its value changes or, for a cell of a
  // sheet, until the cell moves), or null when the cell holds no string of
  // that width.
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

 protected:
  // For the sheet's storage of cells, which moves them with their places: a
  // copy of other's bytes (value, text, place), whose storage is then
  // reused or freed without ending other, so that the text keeps one owner.
  struct Relocation {};
  ExcelCell(const ExcelCell& other, Relocation) noexcept : data_(other.data_) {}
  // The value and place of other, its text copied.
  void CopyWithPlace(const ExcelCell& other);

 private:
  friend class ExcelSheet;
  friend class SharedStrings;
  // For a sheet reading its workbook's file: the text of a text block that
  // outlives the cell (in its workbook's table of texts).
  void ShowText(const char* text);
  void ShowText(const char16_t* text);
  // A text read from a file: a text cell even when the text is empty.
  void SetText(std::string_view text);
  void SetText(std::u16string_view text);
  void TakeText(const void* text, CellType type);
  // Every change of the value goes through here: the formula goes too.
  void ReleaseText() {
    data_.formula = 0;
    if (data_.owns_text) ReleaseOwnText();
  }
  // For the sheet reading a formula, after its result.
  void MarkFormula() { data_.formula = 1; }
  void ReleaseOwnText();
  bool HoldsText() const { return data_.type == kNarrowString || data_.type == kWideString; }
  // The value of other, its text copied (a cell's own text too).
  void CopyValue(const ExcelCell& other);
  // The text block of a string cell (its characters), and whether the cell
  // owns it.
  const void* TextBlock() const { return data_.value.text; }
  bool OwnsText() const { return data_.owns_text != 0; }

  union Value {
    int32_t integer;
    double number;
    const void* text;
  };
  // Plain data, so that a cell's bytes move as one.
  struct Data {
    Value value;
    uint16_t xf;
    uint8_t type;
    uint8_t column;
    uint16_t row;
    uint8_t owns_text;
    uint8_t formula;
  };
  Data data_;
};

// An integer or double cell as a number, a narrow string as its text; other
// cells write nothing.
std::ostream& operator<<(std::ostream& out, const ExcelCell& cell);

}  // namespace YExcel
}  // namespace YCompoundFiles
