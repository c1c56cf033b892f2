// The survey of what a workbook holds that a save would not write back,
// on streams put together record by record.
#include "content_survey.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

Bytes bof(uint16_t type) {
  Bytes data = bytes_of({0x00, 0x06});
  put16(data, type);
  data += filled(12);
  return record_of(0x0809, data);
}

const Bytes kEof = record_of(0x000A, {});

// The sheet's entry, "Data" (its offset left 0, so found by its place).
const Bytes kDataSheet = record_of(0x0085, bytes_of({0, 0, 0, 0, 0, 0, 4, 0, 'D', 'a', 't', 'a'}));

// A workbook of one sheet with the given extra globals and sheet records,
// both full of records a save may drop.
Bytes workbook_stream(const Bytes& globals, const Bytes& sheet) {
  Bytes print_area = bytes_of(
      {0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0x00, 0x06});
  Bytes s = bof(0x0005) + record_of(0x00E1, bytes_of({0xB0, 0x04})) +
            record_of(0x005C, filled(112, ' ')) + record_of(0x0012, bytes_of({0, 0})) +
            record_of(0x0018, print_area) + record_of(0x041E, bytes_of({0xA4, 0, 1, 0, 0, 'x'})) +
            record_of(0x00EB, filled(20, 1)) + kDataSheet + globals + kEof;
  s += bof(0x0010) + record_of(0x007D, filled(12)) + record_of(0x00EC, filled(30, 2)) +
       record_of(0x001D, filled(15)) + record_of(0x0203, filled(14)) + sheet + kEof;
  return s;
}

std::string describe(const Bytes& stream) {
  return ContentSurvey::Of(stream.data(), stream.size()).Describe();
}

Bytes obj(uint16_t type) {
  Bytes data = bytes_of({0x15, 0x00, 0x12, 0x00});
  put16(data, type);
  return record_of(0x005D, data + filled(16));
}

TEST(ContentSurveyTest, ViewAndBookkeepingRecordsMayBeDropped) {
  const Bytes plain = workbook_stream({}, {});
  const ContentSurvey survey = ContentSurvey::Of(plain.data(), plain.size());
  EXPECT_TRUE(survey.Keepable());
  EXPECT_EQ(survey.Describe(), "");
  // Padding after the last substream is no part of the workbook.
  const Bytes padded = plain + filled(300);
  EXPECT_TRUE(ContentSurvey::Of(padded.data(), padded.size()).Keepable());
  // "Recalculate on open" is a calculation setting like the others.
  EXPECT_EQ(describe(workbook_stream({}, record_of(0x005E, {}))), "");
}

TEST(ContentSurveyTest, WhatCarriesContentIsReportedByKind) {
  Bytes user_name =
      bytes_of({0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00}) +
      Bytes{'T', 'o', 't', 'a', 'l'};
  const std::pair<Bytes, std::string> globals[] = {
      {record_of(0x0018, user_name), "defined names"},
      {record_of(0x0012, bytes_of({1, 0})), "protection or encryption"},
      {record_of(0x002F, filled(6)), "protection or encryption"},
      {record_of(0x1234, filled(2)), "records of kinds this export does not keep (0x1234)"},
  };
  for (const auto& [record, kind] : globals) EXPECT_EQ(describe(workbook_stream(record, {})), kind);

  const std::pair<Bytes, std::string> sheet[] = {
      {record_of(0x0006, filled(30)), "formulas (the first in sheet \"Data\", cell A1)"},
      {record_of(0x04BC, filled(10)), "formulas"},
      {record_of(0x0205, bytes_of({0, 0, 0, 0, 0x0F, 0, 7, 1})), ""},  // an error value is kept
      {record_of(0x00E5, filled(10)), "merged cells"},
      {obj(0x0005), "charts or drawings"},
      {obj(0x0008), "charts or drawings"},
      {obj(0x0019) + record_of(0x01B6, filled(18)) + record_of(0x001C, filled(12)), "cell notes"},
      {bof(0x0020) + record_of(0x1002, filled(16)) + kEof, "charts or drawings"},  // embedded chart
      {record_of(0x01B8, filled(40)), "hyperlinks"},
      {record_of(0x01B0, filled(20)), "conditional formats"},
      {record_of(0x01BE, filled(20)), "data validation"},
      {record_of(0x00DD, bytes_of({1, 0})), "protection or encryption"},
      {record_of(0x0204, filled(12)), "records of kinds this export does not keep (0x0204)"},
  };
  for (const auto& [record, kind] : sheet) EXPECT_EQ(describe(workbook_stream({}, record)), kind);

  // What users make is named, with the codes of its records.
  Bytes filter_name = bytes_of(
      {0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0x00, 0x0D});
  EXPECT_EQ(describe(workbook_stream(record_of(0x0018, filter_name),
                                     record_of(0x009D, filled(2)) + obj(0x0014))),
            "an autofilter (0x009D)");
  EXPECT_EQ(describe(workbook_stream({}, obj(0x0014))), "charts or drawings");  // a form control
  EXPECT_EQ(describe(workbook_stream(record_of(0x0086, {}) + record_of(0x005B, filled(6)), {})),
            "write protection (0x005B, 0x0086)");
  EXPECT_EQ(describe(workbook_stream({}, record_of(0x00AF, filled(8)) + record_of(0x0204, {}))),
            "scenarios (0x00AF) and records of kinds this export does not keep (0x0204)");

  // Sheets that are no worksheets.
  EXPECT_EQ(describe(workbook_stream({}, {}) + bof(0x0020) + kEof), "chart sheets");
  EXPECT_EQ(describe(workbook_stream({}, {}) + bof(0x0040) + kEof), "macro sheets");
  EXPECT_EQ(describe(workbook_stream({}, {}) + bof(0x0006) + kEof), "macro sheets");
  EXPECT_EQ(describe(workbook_stream({}, {}) + bof(0x0100) + kEof), "sheets of other kinds");

  // Several at once, in a fixed order, each once.
  const Bytes many = workbook_stream(
      record_of(0x4321, {}), record_of(0x00E5, filled(10)) + record_of(0x0006, filled(30)) +
                                 record_of(0x0006, filled(30)) + record_of(0x0204, filled(12)));
  EXPECT_EQ(
      describe(many),
      "formulas (the first in sheet \"Data\", cell A1), merged cells and records of kinds this "
      "export does not keep (0x0204, 0x4321)");
}

TEST(ContentSurveyTest, FormulasOfOneConstantAreValuesAndTheFirstOtherIsPlaced) {
  const Bytes error = formula_record(6, 1, 15, other_result(2, 0x24), bytes_of({0x1C, 0x24}));
  const Bytes text = formula_record(6, 2, 15, other_result(0), bytes_of({0x17, 1, 0, 'a'})) +
                     record_of(0x0207, bytes_of({1, 0, 0, 'a'}));
  EXPECT_EQ(describe(workbook_stream({}, error + text)), "");
  // A constant whose result disagrees, and a function after it.
  const Bytes wrong = formula_record(300, 27, 15, other_result(2, 0x2A), bytes_of({0x1C, 0x24}));
  const Bytes pi = formula_record(6, 1, 15, number_result(0), bytes_of({0x41, 0x13, 0}));
  EXPECT_EQ(describe(workbook_stream({}, error + wrong + pi)),
            "formulas (the first in sheet \"Data\", cell AB301)");
  // A second sheet, its name wide, as the caller writes it.
  Bytes second = record_of(0x0085, bytes_of({0, 0, 0, 0, 0, 0, 2, 1, 'S', 0, 0xAC, 0x20}));
  const size_t offset = workbook_stream(second, {}).size();
  second[4] = static_cast<char>(offset & 0xFF);
  second[5] = static_cast<char>(offset >> 8);
  const Bytes two = workbook_stream(second, {}) + bof(0x0010) + pi + kEof;
  const ContentSurvey survey = ContentSurvey::Of(two.data(), two.size());
  EXPECT_EQ(survey.Describe(), "formulas (the first in sheet \"S?\", cell B7)");
  EXPECT_EQ(
      survey.Describe([](const std::u16string& name) { return std::string(name.size(), 'x'); }),
      "formulas (the first in sheet \"xx\", cell B7)");
}

TEST(ContentSurveyTest, ACutStreamIsSurveyedAsFarAsItGoes) {
  const Bytes full = workbook_stream({}, record_of(0x0006, filled(30)));
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
    const ContentSurvey survey = ContentSurvey::Of(part.data(), part.size());
    EXPECT_EQ(survey.Keepable(), cut < full.size() - kEof.size()) << cut;  // the formula whole
  }
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
