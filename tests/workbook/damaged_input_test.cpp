// Damaged "Workbook" streams: every reader must stay inside the bytes it is
// given and either refuse the input or report no more than it was given.
// Run under the sanitizers, these catch any read past a buffer.
#include <gtest/gtest.h>

#include <random>

#include "record_bytes.h"
#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

using namespace workbook_test;

Bytes sample_stream() {
  WorkbookContent book;
  book.globals.fonts.resize(2);
  book.globals.xfs.resize(3);
  book.globals.styles.resize(2);
  book.globals.bound_sheets.resize(2);
  book.worksheets.resize(2);
  for (size_t i = 0; i < 2; ++i) book.sheets.emplace_back(&book, i);
  for (int r = 0; r < 40; ++r) {
    *book.sheets[0].Cell(r, 0) = r;
    *book.sheets[0].Cell(r, 1) = r * 0.37;
    *book.sheets[0].Cell(r, 2) = (r % 2 ? "odd" : "even");
  }
  *book.sheets[1].Cell(3, 3) = std::string(9000, 'w').c_str();  // a split shared string
  book.RecordsFromCells();
  Bytes stream = written_bytes(book.globals);
  for (Worksheet& w : book.worksheets) stream += written_bytes(w);
  return stream;
}

// Parses the stream the way the workbook file does: globals, then
// worksheets while a BOF follows.
void parse(const Bytes& stream) {
  WorkbookContent book;
  const uint64_t size = stream.size();
  uint64_t p = book.globals.Read(stream.data(), size);
  ASSERT_LE(p, size);
  if (p == 0) return;
  while (p + 4 <= size && get16(stream, p) == 0x0809) {
    book.worksheets.emplace_back();
    const uint64_t used = book.worksheets.back().Read(stream.data() + p, size - p);
    ASSERT_LE(used, size - p);
    if (used == 0) return;
    p += used;
  }
  // A damaged Dimensions record or row field may name cells far out in the
  // sheet.  The sheet stores only the cells it holds, but its row index
  // still grows to the farthest row named; such worksheets are cleared
  // before the sheet objects are built, to keep this many-round test quick.
  for (size_t i = 0; i < book.worksheets.size(); ++i) {
    Worksheet& w = book.worksheets[i];
    bool far = w.dimensions.first_unused_row * w.dimensions.first_unused_col > 100000;
    for (auto& block : w.cell_table.row_blocks)
      for (auto& cell : block.cell_blocks) far = far || cell.RowIndex() > 1000;
    if (far) w = Worksheet();
    book.sheets.emplace_back(&book, i);
  }
}

TEST(DamagedInputTest, MutatedStreamsAreReadSafely) {
  const Bytes original = sample_stream();
  parse(original);
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    // Parsing works on a copy of exactly the mutated length, so that the
    // sanitizers see any read beyond it.
    Bytes damaged = original;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < changes; ++k) {
      const size_t at = random() % damaged.size();
      damaged[at] = static_cast<char>(random() % 3 == 0 ? 0xFF : random());
    }
    if (round % 5 == 0) damaged.resize(random() % damaged.size());
    parse(damaged);
  }
}

}  // namespace
}  // namespace YExcel
}  // namespace YCompoundFiles
