// The survey of what keeps an export from extending a workbook, on streams
// put together record by record.
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
// both full of records a save carries.
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

std::string refusal(const Bytes& stream, bool adds_sheet = true) {
  return ContentSurvey::Of(stream.data(), stream.size()).Refusal(adds_sheet);
}

TEST(ContentSurveyTest, WhatASaveCarriesKeepsNoExportOut) {
  Bytes user_name =
      bytes_of({0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00}) +
      Bytes{'T', 'o', 't', 'a', 'l'};
  const Bytes globals[] = {record_of(0x0018, user_name), record_of(0x1234, filled(2)),
                           record_of(0x0086, {}), record_of(0x0012, bytes_of({0, 0}))};
  for (const Bytes& record : globals) EXPECT_EQ(refusal(workbook_stream(record, {})), "");
  const Bytes sheet[] = {
      record_of(0x0006, filled(30)), record_of(0x04BC, filled(10)), record_of(0x00E5, filled(10)),
      bof(0x0020) + record_of(0x1002, filled(16)) + kEof, record_of(0x01B8, filled(40)),
      // A protected sheet: refused, if at all, where a cell would be written.
      record_of(0x0012, bytes_of({1, 0})), record_of(0x0204, filled(12))};
  for (const Bytes& record : sheet) EXPECT_EQ(refusal(workbook_stream({}, record)), "");
  EXPECT_TRUE(ContentSurvey().Keepable());
  EXPECT_EQ(refusal(workbook_stream({}, {}) + bof(0x0020) + kEof), "");  // a chart sheet
  // Padding after the last substream is no part of the workbook.
  EXPECT_EQ(refusal(workbook_stream({}, {}) + filled(300) + bof(0x0040) + kEof), "");
}

TEST(ContentSurveyTest, EncryptionMacrosAndStructureProtectionAreNamed) {
  const Bytes encrypted = workbook_stream(record_of(0x002F, filled(6)), {});
  EXPECT_TRUE(ContentSurvey::Of(encrypted.data(), encrypted.size()).Encrypted());
  EXPECT_EQ(refusal(encrypted, false),
            "it is encrypted with a password, which this export cannot open");
  const std::string macros =
      "it holds macros, which a new sheet could break and this export does not check";
  EXPECT_EQ(refusal(workbook_stream(record_of(0x00D3, {}), {}), false), macros);
  EXPECT_EQ(refusal(workbook_stream({}, {}) + bof(0x0040) + kEof, false), macros);
  EXPECT_EQ(refusal(workbook_stream({}, {}) + bof(0x0006) + kEof, false), macros);
  ContentSurvey storage;
  storage.NoteMacros();
  EXPECT_EQ(storage.Refusal(false), macros);
  // Structure protection forbids a new sheet, not cells of an existing one.
  const Bytes structure = workbook_stream(record_of(0x0012, bytes_of({1, 0})), {});
  EXPECT_EQ(refusal(structure, true),
            "its author protected the workbook's structure, which forbids adding sheets");
  EXPECT_EQ(refusal(structure, false), "");
}

TEST(ContentSurveyTest, ACutStreamIsSurveyedAsFarAsItGoes) {
  const Bytes head = workbook_stream({}, {});
  const Bytes full = head + bof(0x0040) + kEof;
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
    const ContentSurvey survey = ContentSurvey::Of(part.data(), part.size());
    EXPECT_EQ(survey.HasMacros(), cut >= head.size() + 20) << cut;  // the macro sheet's BOF whole
  }
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
