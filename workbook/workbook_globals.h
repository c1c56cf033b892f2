#pragma once
// The workbook-globals substream, the first of the "Workbook" stream: the
// records of it that this library understands, in a container that reads,
// sizes and writes them.
//
// Write always emits, in this order: BOF, Window1, every Font, every
// number format, every XF, every Style, the kept settings, every BoundSheet
// (each vector in its order), the shared string table, EOF. Number formats
// (FORMAT) and the settings that change what values mean (DATEMODE,
// PRECISION, and PALETTE for the colours the XFs name) are kept verbatim
// as read, so that the XF records keep pointing at what they name. Other
// globals records of a file that was read are dropped, and so is the ExtSST
// (never written).
#include <cstdint>
#include <vector>

#include "globals_records.h"
#include "record.h"
#include "shared_string_table.h"

namespace YCompoundFiles {
namespace YExcel {

class Workbook {
 public:
  using Window1 = GlobalsRecords::Window1;
  using Font = GlobalsRecords::Font;
  using XF = GlobalsRecords::XF;
  using Style = GlobalsRecords::Style;
  using BoundSheet = GlobalsRecords::BoundSheet;
  using SharedStringTable = GlobalsRecords::SharedStringTable;
  using ExtSST = GlobalsRecords::ExtSST;

  // BOF of type 5 (globals) with this library's values, default Window1,
  // no fonts, formats, styles or sheets, an empty string table.
  Workbook();

  // Reads the substream that starts at bytes (its BOF) up to and including
  // its EOF; size is what remains of the stream from there. Fonts, XFs,
  // styles and sheets are appended, so the Workbook must be fresh. Returns
  // the bytes consumed, or 0 when a record is damaged, a second BOF comes
  // before the EOF, or the stream ends before the EOF.
  uint64_t Read(const char* bytes, uint64_t size);
  // out holds RecordSize() bytes. Returns the bytes written.
  uint64_t Write(char* out);
  // Both: the bytes Write writes. Refreshes the stored sizes (and the
  // string table's split points) of every variable-size record.
  uint64_t DataSize();
  uint64_t RecordSize() { return DataSize(); }

  BOF bof;
  Window1 window1;
  std::vector<Font> fonts;
  std::vector<Record> formats;
  std::vector<XF> xfs;
  std::vector<Style> styles;
  std::vector<Record> settings;
  std::vector<BoundSheet> bound_sheets;
  SharedStringTable shared_strings;
  ExtSST ext_sst;
  YEOF eof;
};

}  // namespace YExcel
}  // namespace YCompoundFiles
