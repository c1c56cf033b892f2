#include "formula_records.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace CellRecords {
namespace {

using namespace workbook_test;

// Row 1, column 2, XF 15, a result, options 0x0008, reserved, then tokens.
Bytes formula_data(size_t tokens) {
  Bytes d = bytes_of({1, 0, 2, 0, 15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 8, 0, 0xAB, 0xCD});
  for (size_t i = 0; i < tokens; ++i) d.push_back(static_cast<char>(0x40 + i));
  return d;
}

TEST(FormulaRecordsTest, FormulaAloneConsumesOnlyItself) {
  const Bytes formula = record_of(0x0006, formula_data(9));
  const Bytes stream = formula + record_of(0x0203, filled(14));
  Formula f;
  ASSERT_EQ(f.Read(stream.data(), stream.size()), 31u);
  EXPECT_EQ(f.DataSize(), 27u);
  EXPECT_EQ(f.RecordSize(), 31u);
  EXPECT_EQ(f.companion, FormulaParts::Code::kNone);
  EXPECT_EQ(f.row, 1);
  EXPECT_EQ(f.col, 2);
  EXPECT_EQ(f.formula.size(), 9u);
  EXPECT_EQ(written_bytes(f), formula);
}

TEST(FormulaRecordsTest, FormulaTakesItsCompanionAndStringResult) {
  const Bytes shared = record_of(0x00BC, bytes_of({1, 0, 3, 0, 2, 2, 0, 0, 0x1E, 0x05, 0x00}));
  const Bytes text = record_of(0x0207, bytes_of({2, 0, 0, 'h', 'i'}));
  const Bytes all = record_of(0x0006, formula_data(5)) + shared + text;
  const Bytes stream = all + record_of(0x00FD, filled(10));
  Formula f;
  ASSERT_EQ(f.Read(stream.data(), stream.size()), all.size());
  EXPECT_EQ(f.companion, FormulaParts::Code::kShrFmla);
  EXPECT_EQ(f.shr_fmla.last_row, 3);
  EXPECT_EQ(f.shr_fmla.formula.size(), 3u);
  EXPECT_EQ(f.RecordSize(), all.size());
  EXPECT_EQ(written_bytes(f), all);

  // A fresh read decides the companions anew.
  const Bytes alone = record_of(0x0006, formula_data(0));
  ASSERT_EQ(f.Read(alone.data(), alone.size()), 22u);
  EXPECT_EQ(f.RecordSize(), 22u);
}

TEST(FormulaRecordsTest, EachCompanionKindIsKeptByteForByte) {
  const Bytes companions[] = {
      record_of(0x0221, bytes_of({0, 0, 4, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x1E, 0x01, 0x00})),
      record_of(0x04BC, bytes_of({0, 0, 4, 0, 0, 1, 0, 0, 0x1E, 0x02, 0x00})),
      record_of(0x0036, bytes_of({0, 0, 9, 0, 1, 3, 0, 0, 4, 0, 5, 0, 6, 0, 7, 0})),
  };
  const uint16_t codes[] = {0x0221, 0x04BC, 0x0036};
  for (int i = 0; i < 3; ++i) {
    const Bytes stream = record_of(0x0006, formula_data(3)) + companions[i];
    Formula f;
    ASSERT_EQ(f.Read(stream.data(), stream.size()), stream.size()) << i;
    EXPECT_EQ(f.companion, codes[i]);
    EXPECT_EQ(written_bytes(f), stream);
  }
  // 0x0236 is not a Table.
  const Bytes formula = record_of(0x0006, formula_data(3));
  const Bytes stream = formula + record_of(0x0236, filled(16));
  Formula f;
  EXPECT_EQ(f.Read(stream.data(), stream.size()), formula.size());
}

TEST(FormulaRecordsTest, VariableSizesCountTheirContinueHeaders) {
  Formula f;
  f.formula.assign(8206, 0);
  EXPECT_EQ(f.RecordSize(), 8228u);
  f.formula.push_back(0);
  EXPECT_EQ(f.RecordSize(), 8233u);
  const Bytes out = written_bytes(f);
  EXPECT_EQ(get16(out, 8228), 0x003C);
}

TEST(FormulaRecordsTest, RefusesDamagedFormulasAndCompanions) {
  Formula f;
  const Bytes shorter = record_of(0x0006, filled(17));
  EXPECT_EQ(f.Read(shorter.data(), shorter.size()), 0u);
  const Bytes cut_companion = record_of(0x0006, formula_data(2)) + record_of(0x0221, filled(11));
  EXPECT_EQ(f.Read(cut_companion.data(), cut_companion.size()), 0u);
  Bytes cut_string = record_of(0x0006, formula_data(2)) + record_of(0x0207, filled(6));
  cut_string.pop_back();
  EXPECT_EQ(f.Read(cut_string.data(), cut_string.size()), 0u);
}

// What a formula of one constant stands for, or "formula".
std::string constant_of(const Bytes& stream) {
  Formula f;
  FormulaConstant c;
  if (!f.Read(stream.data(), stream.size())) return "unread";
  if (!f.Constant(c)) return "formula";
  switch (c.kind) {
    case FormulaConstant::Kind::kError:
      return "error " + std::to_string(c.code);
    case FormulaConstant::Kind::kBoolean:
      return "boolean " + std::to_string(c.code);
    case FormulaConstant::Kind::kNumber:
      return "number " + std::to_string(c.number);
    case FormulaConstant::Kind::kText:
      return (c.wide ? "wide " : "text ") + std::string(c.text.begin(), c.text.end());
  }
  return "?";
}

Bytes string_record(const Bytes& chars, int flags) {
  Bytes d;
  put16(d, static_cast<uint32_t>(flags ? chars.size() / 2 : chars.size()));
  d.push_back(static_cast<char>(flags));
  return record_of(0x0207, d + chars);
}

TEST(FormulaRecordsTest, AFormulaOfOneConstantWhoseResultAgreesIsThatValue) {
  const Bytes pi = bytes_of({0x1F, 0x18, 0x2D, 0x44, 0x54, 0xFB, 0x21, 0x09, 0x40});
  const Bytes hi = bytes_of({'h', 'i'});
  const Bytes wide_hi = bytes_of({'h', 0, 0xAC, 0x20});
  const std::pair<Bytes, std::string> agreeing[] = {
      {formula_record(1, 2, 15, other_result(2, 0x24), bytes_of({0x1C, 0x24})), "error 36"},
      {formula_record(1, 2, 15, other_result(1, 1), bytes_of({0x1D, 1})), "boolean 1"},
      {formula_record(1, 2, 15, number_result(513), bytes_of({0x1E, 1, 2})), "number 513.000000"},
      {formula_record(1, 2, 15, number_result(3.141592653589793), pi), "number 3.141593"},
      {formula_record(1, 2, 15, other_result(0), bytes_of({0x17, 2, 0}) + hi) +
           string_record(hi, 0),
       "text hi"},
      // The result may hold the text in the other width.
      {formula_record(1, 2, 15, other_result(0), bytes_of({0x17, 2, 1}) + wide_hi) +
           string_record(wide_hi, 1),
       "wide h\xAC"},
  };
  for (const auto& [stream, value] : agreeing) EXPECT_EQ(constant_of(stream), value);

  // A result that disagrees, or anything beside the one constant, keeps it
  // a formula.
  const Bytes refused[] = {
      formula_record(1, 2, 15, other_result(2, 0x2A), bytes_of({0x1C, 0x24})),
      formula_record(1, 2, 15, other_result(1, 0x24), bytes_of({0x1C, 0x24})),
      formula_record(1, 2, 15, other_result(2, 0x25), bytes_of({0x1C, 0x25})),  // no error
      formula_record(1, 2, 15, other_result(1, 0), bytes_of({0x1D, 1})),
      formula_record(1, 2, 15, number_result(3.14), pi),
      formula_record(1, 2, 15, other_result(0), bytes_of({0x17, 2, 0}) + hi) +
          string_record(bytes_of({'h', 'o'}), 0),
      formula_record(1, 2, 15, other_result(0), bytes_of({0x17, 2, 0}) + hi),  // no String
      formula_record(1, 2, 15, other_result(3), bytes_of({0x17, 0, 0})),       // empty text
      formula_record(1, 2, 15, number_result(1), bytes_of({0x1E, 1, 0})) + string_record(hi, 0),
      formula_record(1, 2, 15, number_result(2), bytes_of({0x1E, 1, 0, 0x1E, 1, 0, 0x03})),
      formula_record(1, 2, 15, number_result(0), bytes_of({0x44, 0, 0, 0, 0xC0})),  // A1
      formula_record(1, 2, 15, number_result(0), bytes_of({0x41, 0x13, 0})),        // PI()
      formula_record(1, 2, 15, number_result(1), bytes_of({0x1E, 1, 0})) +
          record_of(0x00BC, bytes_of({1, 0, 3, 0, 2, 2, 0, 0, 0x1E, 0x01, 0x00})),
  };
  for (const Bytes& stream : refused) EXPECT_EQ(constant_of(stream), "formula");
  Bytes trailing = formula_record(1, 2, 15, number_result(1), bytes_of({0x1E, 1, 0, 0}));
  trailing[24] = 3;  // the tokens' length: a byte after them
  EXPECT_EQ(constant_of(trailing), "formula");
}

}  // namespace
}  // namespace CellRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
