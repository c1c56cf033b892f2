#pragma once
// The workbook-globals substream, the first of the "Workbook" stream: the
// records of it that this library understands, in a container that reads,
// sizes and writes them.
//
// Write emits the BOF, then the pieces in order (carried_records.h): every
// record of a file that was read and is not modelled here, byte for byte,
// and at the place of the first of each modelled kind, that kind's section:
// Window1, every Font, every number format, every XF, every Style, the
// settings, every BoundSheet (each vector in its order), the shared string
// table; then EOF. A fresh Workbook has the slots in that order. Number
// formats (FORMAT) are kept verbatim as read, so that the XF records keep
// pointing at what they name; settings holds the DATEMODE, PRECISION and
// PALETTE of a new workbook (a file's are carried). The ExtSST, an index
// into the string table at stream positions that a rebuilt table would
// make wrong, is dropped (readers do without it).
#include <cstdint>
#include <vector>

#include "carried_records.h"
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

  enum Slot : uint16_t {
    kWindow1Slot = 1,
    kFontsSlot,
    kFormatsSlot,
    kXFsSlot,
    kStylesSlot,
    kSettingsSlot,
    kBoundSheetsSlot,
    kStringsSlot,
  };

  // BOF of type 5 (globals) with this library's values, default Window1,
  // no fonts, formats, styles or sheets, an empty string table, the slots
  // in order.
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
  std::vector<CarriedRecord> pieces;
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

 private:
  // Write, or with out null the size.
  uint64_t WriteOrSize(char* out);
};

}  // namespace YExcel
}  // namespace YCompoundFiles
