// The survey of what a workbook holds that a save would not write back,
// on streams put together record by record.
#include "content_survey.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

Bytes Bof(uint16_t type) {
  Bytes data = Of({0x00, 0x06});
  Put16(data, type);
  data += Filled(12);
  return RecordOf(0x0809, data);
}

const Bytes kEof = RecordOf(0x000A, {});

// A workbook of one sheet with the given extra globals and sheet records,
// both full of records a save may drop.
Bytes Stream(const Bytes& globals, const Bytes& sheet) {
  Bytes print_area = Of({0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0x00, 0x06});
  Bytes s = Bof(0x0005) + RecordOf(0x00E1, Of({0xB0, 0x04})) + RecordOf(0x005C, Filled(112, ' ')) +
            RecordOf(0x0012, Of({0, 0})) + RecordOf(0x0018, print_area) + RecordOf(0x041E, Of({0xA4, 0, 1, 0, 0, 'x'})) +
            RecordOf(0x00EB, Filled(20, 1)) + globals + kEof;
  s += Bof(0x0010) + RecordOf(0x007D, Filled(12)) + RecordOf(0x00EC, Filled(30, 2)) + RecordOf(0x001D, Filled(15)) +
       RecordOf(0x0203, Filled(14)) + sheet + kEof;
  return s;
}

std::string Describe(const Bytes& stream) { return ContentSurvey::Of(stream.data(), stream.size()).Describe(); }

Bytes Obj(uint16_t type) {
  Bytes data = Of({0x15, 0x00, 0x12, 0x00});
  Put16(data, type);
  return RecordOf(0x005D, data + Filled(16));
}

TEST(ContentSurveyTest, ViewAndBookkeepingRecordsMayBeDropped) {
  const Bytes plain = Stream({}, {});
  const ContentSurvey survey = ContentSurvey::Of(plain.data(), plain.size());
  EXPECT_TRUE(survey.Keepable());
  EXPECT_EQ(survey.Describe(), "");
  // Padding after the last substream is no part of the workbook.
  const Bytes padded = plain + Filled(300);
  EXPECT_TRUE(ContentSurvey::Of(padded.data(), padded.size()).Keepable());
}

TEST(ContentSurveyTest, WhatCarriesContentIsReportedByKind) {
  Bytes user_name = Of({0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00}) + Bytes{'T', 'o', 't', 'a', 'l'};
  const std::pair<Bytes, std::string> globals[] = {
      {RecordOf(0x0018, user_name), "defined names"},
      {RecordOf(0x0012, Of({1, 0})), "protection or encryption"},
      {RecordOf(0x002F, Filled(6)), "protection or encryption"},
      {RecordOf(0x1234, Filled(2)), "records of kinds this export does not keep (0x1234)"},
  };
  for (const auto& [record, kind] : globals) EXPECT_EQ(Describe(Stream(record, {})), kind);

  const std::pair<Bytes, std::string> sheet[] = {
      {RecordOf(0x0006, Filled(30)), "formulas"},
      {RecordOf(0x04BC, Filled(10)), "formulas"},
      {RecordOf(0x0205, Of({0, 0, 0, 0, 0x0F, 0, 1, 0})), "booleans"},
      {RecordOf(0x0205, Of({0, 0, 0, 0, 0x0F, 0, 7, 1})), "error values"},
      {RecordOf(0x00E5, Filled(10)), "merged cells"},
      {Obj(0x0005), "charts or drawings"},
      {Obj(0x0008), "charts or drawings"},
      {Obj(0x0019) + RecordOf(0x01B6, Filled(18)) + RecordOf(0x001C, Filled(12)), "cell notes"},
      {Bof(0x0020) + RecordOf(0x1002, Filled(16)) + kEof, "charts or drawings"},  // embedded chart
      {RecordOf(0x01B8, Filled(40)), "hyperlinks"},
      {RecordOf(0x01B0, Filled(20)), "conditional formats"},
      {RecordOf(0x01BE, Filled(20)), "data validation"},
      {RecordOf(0x00DD, Of({1, 0})), "protection or encryption"},
      {RecordOf(0x0204, Filled(12)), "records of kinds this export does not keep (0x0204)"},
  };
  for (const auto& [record, kind] : sheet) EXPECT_EQ(Describe(Stream({}, record)), kind);

  // Sheets that are no worksheets.
  EXPECT_EQ(Describe(Stream({}, {}) + Bof(0x0020) + kEof), "chart sheets");
  EXPECT_EQ(Describe(Stream({}, {}) + Bof(0x0040) + kEof), "macro sheets");
  EXPECT_EQ(Describe(Stream({}, {}) + Bof(0x0006) + kEof), "macro sheets");
  EXPECT_EQ(Describe(Stream({}, {}) + Bof(0x0100) + kEof), "sheets of other kinds");

  // Several at once, in a fixed order, each once.
  const Bytes many = Stream(RecordOf(0x4321, {}), RecordOf(0x00E5, Filled(10)) + RecordOf(0x0006, Filled(30)) +
                                                       RecordOf(0x0006, Filled(30)) + RecordOf(0x0204, Filled(12)));
  EXPECT_EQ(Describe(many), "formulas, merged cells and records of kinds this export does not keep (0x0204, 0x4321)");
}

TEST(ContentSurveyTest, ACutStreamIsSurveyedAsFarAsItGoes) {
  const Bytes full = Stream({}, RecordOf(0x0006, Filled(30)));
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
    const ContentSurvey survey = ContentSurvey::Of(part.data(), part.size());
    EXPECT_EQ(survey.Keepable(), cut < full.size() - kEof.size()) << cut;  // the formula whole
  }
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
