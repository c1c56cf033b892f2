#include "record.h"

#include <gtest/gtest.h>

#include "record_bytes.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

Record with_data(uint16_t code, size_t n) {
  Record r(code);
  r.data.resize(n);
  for (size_t i = 0; i < n; ++i) r.data[i] = static_cast<char>(i * 7);
  r.data_size = n;
  r.record_size = r.FramedSize(n);
  return r;
}

TEST(RecordTest, SplitsLongDataIntoContinueRecordsOf8224Bytes) {
  for (size_t n : {size_t{8224}, size_t{8225}, size_t{16448}}) {
    Record r = with_data(0x00FC, n);
    const Bytes out = written_bytes(r);
    ASSERT_EQ(out.size(), r.RecordSize()) << n;
    // First part: the record's own code.
    EXPECT_EQ(get16(out, 0), 0x00FC);
    EXPECT_EQ(get16(out, 2), std::min<size_t>(n, 8224));
    if (n == 8224) {
      EXPECT_EQ(out.size(), 8228u);
      continue;
    }
    EXPECT_EQ(get16(out, 8228), 0x003C);
    EXPECT_EQ(get16(out, 8230), n - 8224);
    EXPECT_EQ(out.size(), n + 8u);
    EXPECT_EQ(out[8232], r.data[8224]);
  }
}

TEST(RecordTest, ReadsContinuePartsAndWritesThemBackAsTheyWere) {
  const Bytes stream = record_of(0x00FC, filled(200, 1)) + record_of(0x003C, filled(100, 2)) +
                       record_of(0x003C, filled(50, 3)) + record_of(0x000A, {});
  Record r;
  EXPECT_EQ(r.Read(stream.data(), stream.size()), 362u);
  EXPECT_EQ(r.code, 0x00FC);
  EXPECT_EQ(r.DataSize(), 350u);
  EXPECT_EQ(r.RecordSize(), 362u);
  EXPECT_EQ(r.continue_indices, (std::vector<uint64_t>{200, 300}));
  EXPECT_EQ(r.data[199], 1);
  EXPECT_EQ(r.data[200], 2);
  EXPECT_EQ(r.data[349], 3);
  EXPECT_EQ(written_bytes(r), Bytes(stream.begin(), stream.begin() + 362));
}

TEST(RecordTest, RefusesRecordsThatRunPastTheStream) {
  const Bytes whole = record_of(0x0031, filled(20)) + record_of(0x003C, filled(10));
  Record r;
  EXPECT_EQ(r.Read(whole.data(), 3), 0u);    // header cut
  EXPECT_EQ(r.Read(whole.data(), 23), 0u);   // data cut
  EXPECT_EQ(r.Read(whole.data(), 26), 0u);   // CONTINUE header cut
  EXPECT_EQ(r.Read(whole.data(), 37), 0u);   // CONTINUE data cut
  EXPECT_EQ(r.Read(whole.data(), 24), 24u);  // ends right after the record: no CONTINUE to look at
  EXPECT_EQ(r.Read(whole.data(), whole.size()), whole.size());
  EXPECT_EQ(r.Read(nullptr, 0), 0u);
}

TEST(RecordTest, MarkersWriteTheirFixedBytes) {
  YEOF eof;
  EXPECT_EQ(written_bytes(eof), bytes_of({0x0A, 0x00, 0x00, 0x00}));

  BOF bof;
  EXPECT_EQ(bof.RecordSize(), 20u);
  bof.SetDefaults(BOF::kGlobals);
  EXPECT_EQ(written_bytes(bof),
            bytes_of({0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00, 0xA0, 0x19,
                      0xCD, 0x07, 0xC9, 0xC0, 0x00, 0x00, 0x06, 0x03, 0x00, 0x00}));
  bof.SetDefaults(BOF::kWorksheet);
  const Bytes sheet = written_bytes(bof);
  EXPECT_EQ(sheet[6], 0x10);
  EXPECT_EQ(sheet[7], 0x00);
}

TEST(RecordTest, BofKeepsExtraDataAndReadsMissingFieldsAsZero) {
  Bytes longer = record_of(
      0x0809, bytes_of({0x00, 0x06, 0x10, 0x00}) + filled(12, 0x11) + bytes_of({0xEE, 0xFF}));
  BOF bof;
  ASSERT_EQ(bof.Read(longer.data(), longer.size()), 22u);
  EXPECT_EQ(bof.type, 0x0010);
  EXPECT_EQ(written_bytes(bof), longer);

  const Bytes shorter = record_of(0x0809, bytes_of({0x00, 0x05, 0x05, 0x00}));
  ASSERT_EQ(bof.Read(shorter.data(), shorter.size()), 8u);
  EXPECT_EQ(bof.version, 0x0500);
  EXPECT_EQ(bof.type, 5);
  EXPECT_EQ(bof.build, 0);
  EXPECT_EQ(written_bytes(bof), shorter);
}

TEST(RecordTest, SkipSubstreamFollowsNesting) {
  const Bytes inner =
      record_of(0x0809, filled(16)) + record_of(0x1001, filled(3)) + record_of(0x000A, {});
  const Bytes outer =
      record_of(0x0809, filled(16)) + inner + record_of(0x0208, filled(16)) + record_of(0x000A, {});
  const Bytes stream = outer + record_of(0x0809, filled(16));
  EXPECT_EQ(skip_substream(stream.data(), stream.size()), outer.size());
  EXPECT_EQ(skip_substream(inner.data(), inner.size()), inner.size());
  EXPECT_EQ(skip_substream(outer.data(), outer.size() - 1), 0u);          // no closing EOF
  EXPECT_EQ(skip_substream(stream.data() + 40, stream.size() - 40), 0u);  // not at a BOF
}

TEST(RecordTest, FieldVisitorsStayInsideTheData) {
  // Doubles, byte arrays and a trailing vector go where their offsets say.
  std::vector<char> data(20, 0);
  const double number = -2.25;
  const uint8_t bytes[2] = {0xAB, 0xCD};
  const std::vector<char> tail = {'x', 'y'};
  const FieldPutter put(data);
  put(number, 0);
  put(bytes, 8);
  put(tail, 18);
  double number_back = 0;
  uint8_t bytes_back[2] = {};
  std::vector<char> tail_back;
  const FieldGetter get(data);
  get(number_back, 0);
  get(bytes_back, 8);
  get(tail_back, 18);
  EXPECT_EQ(number_back, number);
  EXPECT_EQ(bytes_back[1], 0xCD);
  EXPECT_EQ(tail_back, tail);
  EXPECT_EQ(static_cast<uint8_t>(data[15]), 0);

  // Past the end: nothing is read or written outside the data.
  const std::vector<char> before = data;
  put(tail, 19);
  put(number, 13);
  EXPECT_EQ(data, before);
  get(tail_back, 25);
  EXPECT_TRUE(tail_back.empty());
  get(number_back, 13);
  EXPECT_EQ(number_back, 0.0);
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
