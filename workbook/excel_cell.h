#pragma once
// One cell of a sheet: nothing, an integer, a double, a narrow (8-bit)
// string or a wide (UTF-16) string, and the index of its cell format (XF
// record; 0 unless set), which a value or its erasure leaves as it is: an
// empty cell with a format is written back as a blank cell.
//
// A cell is a compact tagged value of 16 bytes: the value, or a pointer to
// the cell's own text, beside the type and the format index. A string cell
// owns one allocation, its text with a terminator; numbers allocate nothing.
// Copies duplicate the text.
#include <cstdint>
#include <ostream>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

class ExcelCell {
 public:
  enum CellType : uint32_t {
    kUndefined = 0,
    kInteger = 1,
    kDouble = 2,
    kNarrowString = 3,
    kWideString = 4,
  };

  ExcelCell();
  // Inline: a row that grows moves its cells, and most hold no text.
  ~ExcelCell() {
    if (type_ >= kNarrowString) Release();
  }
  ExcelCell(const ExcelCell& other);
  ExcelCell(ExcelCell&& other) noexcept
      : value_(other.value_),
        xf_(other.xf_),
        type_(other.type_),
        column_(other.column_),
        row_(other.row_) {
    other.type_ = kUndefined;
  }
  ExcelCell& operator=(const ExcelCell& other);
  ExcelCell& operator=(ExcelCell&& other) noexcept;

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

  // Characters of a string cell without the terminator; 0 for other cells.
  uint64_t GetStringLength() const;
  // As Get, with 0 or 0.0 when it fails.
  int32_t GetInteger() const;
  double GetDouble() const;
  // The cell's own text (valid until the cell changes), or null when the
  // cell holds no string of that width.
  const char* GetString() const;
  const char16_t* GetWString() const;

  // Setting a value replaces the one held, text included. A string is taken
  // up to its first zero; an empty (or null) string makes the cell
  // undefined.
  void SetInteger(int32_t value);
  void SetDouble(double value);
  void SetString(const char* text);
  void SetString(const char16_t* text);
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

 private:
  friend class ExcelSheet;
  void Release();
  void CopyText(const ExcelCell& other);

  union Value {
    int32_t integer;
    double number;
    char* narrow;    // with its terminator
    char16_t* wide;  // with its terminator
  };
  Value value_;
  uint16_t xf_;
  uint8_t type_;
  uint8_t column_;
  // The row, kept likewise, in what would be padding: a cell costs 16
  // bytes with or without it.
  uint16_t row_;
};

// An integer or double cell as a number, a narrow string as its text; other
// cells write nothing.
std::ostream& operator<<(std::ostream& out, const ExcelCell& cell);

}  // namespace YExcel
}  // namespace YCompoundFiles
