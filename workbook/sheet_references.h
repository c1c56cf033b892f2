#pragma once
// The places in the carried globals records that store a sheet's position
// (sheet i being the i-th sheet entry), kept pointing at the same sheets
// when a sheet is inserted or removed:
//
// - EXTERNSHEET: each reference into this workbook (through the SUPBOOK
//   record that names it, its sheet count 0x0401 marker) holds a first and
//   last sheet; formula tokens name references, not sheets, and stay.
// - that SUPBOOK's sheet count;
// - NAME: the sheet a local name (print area and titles, a filter's
//   database) belongs to, 1-based, 0 for a global name;
// - TABID: one id per sheet, in sheet order; an inserted sheet takes a new
//   id;
// - WINDOW1 records after the first (the first is modelled): the active
//   sheet and the first tab shown.
#include <cstdint>
#include <vector>

#include "carried_records.h"

namespace YCompoundFiles {
namespace YExcel {

// A sheet is now at position at, before the sheet that was there; sheets is
// the count after the insertion.
void sheet_inserted(std::vector<CarriedRecord>& globals, uint64_t at, uint64_t sheets);
// The sheet at position at is gone. References to it alone become
// references to no sheet (as a spreadsheet program leaves them: #REF!).
void sheet_removed(std::vector<CarriedRecord>& globals, uint64_t at, uint64_t sheets);
// Whether a NAME record belongs to the sheet at position at.
bool has_local_names(const std::vector<CarriedRecord>& globals, uint64_t at);

}  // namespace YExcel
}  // namespace YCompoundFiles
