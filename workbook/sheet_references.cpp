#include "sheet_references.h"

#include <algorithm>

namespace YCompoundFiles {
namespace YExcel {
namespace {

constexpr uint16_t kSupBook = 0x01AE;
constexpr uint16_t kExternSheet = 0x0017;
constexpr uint16_t kName = 0x0018;
constexpr uint16_t kTabId = 0x013D;
constexpr uint16_t kWindow1 = 0x003D;
// A SUPBOOK of this workbook: its sheet count, then this marker.
constexpr uint16_t kSelfMarker = 0x0401;
// Sheet positions of an EXTERNSHEET entry at and above this mean no sheet
// (0xFFFF) or the workbook itself (0xFFFE).
constexpr uint16_t kNoSheet = 0xFFFF;
constexpr uint16_t kWorkbookLevel = 0xFFFE;
// Offsets in the data.
constexpr uint64_t kNameSheet = 8;
constexpr uint64_t kWindowActive = 10;
constexpr uint64_t kWindowFirstTab = 12;

// What a stored position is: the first or last sheet of a reference (or a
// name's, or a window's active sheet), or the first tab a window shows.
enum class Field { kFirst, kLast, kFirstTab };

bool is_self(const CarriedRecord& supbook) {
  uint16_t marker = 0;
  return supbook.DataSize() == 4 && supbook.Get(marker, 2) && marker == kSelfMarker;
}

// Calls change(position) for every stored sheet position (0-based) and
// stores what it returns; a NAME's is 1-based, 0 meaning global.
template <class Change>
void each_position(std::vector<CarriedRecord>& globals, Change change) {
  int64_t supbook = -1;
  int64_t self = -1;
  for (CarriedRecord& record : globals) {
    uint16_t value = 0;
    switch (record.Code()) {
      case kSupBook:
        ++supbook;
        if (is_self(record)) self = supbook;
        break;
      case kExternSheet: {
        uint16_t count = 0;
        record.Get(count, 0);
        for (uint64_t i = 0; i < count; ++i) {
          uint16_t book = 0, first = 0, last = 0;
          const uint64_t at = 2 + 6 * i;
          if (!record.Get(book, at) || !record.Get(first, at + 2) || !record.Get(last, at + 4))
            break;
          if (self < 0 || book != self || first >= kWorkbookLevel) continue;
          uint16_t new_first = change(first, Field::kFirst);
          uint16_t new_last = last >= kWorkbookLevel ? last : change(last, Field::kLast);
          if (new_first == kNoSheet || new_last == kNoSheet || new_first > new_last)
            new_first = new_last = kNoSheet;
          record.Put(new_first, at + 2);
          record.Put(new_last, at + 4);
        }
        break;
      }
      case kName:
        if (record.Get(value, kNameSheet) && value > 0) {
          const uint16_t moved = change(static_cast<uint16_t>(value - 1), Field::kFirst);
          // A name of a sheet that is gone keeps its place, global: names
          // are counted by formulas, so none may go.
          record.Put(moved == kNoSheet ? 0 : static_cast<uint16_t>(moved + 1), kNameSheet);
        }
        break;
      case kWindow1:
        for (uint64_t field : {kWindowActive, kWindowFirstTab})
          if (record.Get(value, field)) {
            const uint16_t moved =
                change(value, field == kWindowFirstTab ? Field::kFirstTab : Field::kFirst);
            record.Put(moved == kNoSheet ? 0 : moved, field);
          }
        break;
      default:
        break;
    }
  }
}

void set_self_count(std::vector<CarriedRecord>& globals, uint64_t sheets) {
  for (CarriedRecord& record : globals)
    if (record.Code() == kSupBook && is_self(record)) record.Put(static_cast<uint16_t>(sheets), 0);
}

}  // namespace

void sheet_inserted(std::vector<CarriedRecord>& globals, uint64_t at, uint64_t sheets) {
  each_position(globals, [at](uint16_t position, Field field) {
    // The tab strip starts where it did, or at the new sheet, which must
    // be in view.
    if (field == Field::kFirstTab) return static_cast<uint16_t>(std::min<uint64_t>(position, at));
    return static_cast<uint16_t>(position >= at ? position + 1 : position);
  });
  set_self_count(globals, sheets);
  for (CarriedRecord& record : globals) {
    if (record.Code() != kTabId) continue;
    std::vector<char> data = record.Data();
    // A list that does not count the sheets is left as it is.
    if (data.size() != 2 * (sheets - 1) || at >= sheets) continue;
    uint16_t next = 0;
    for (uint64_t i = 0; i + 1 < data.size(); i += 2)
      next =
          std::max<uint16_t>(next, static_cast<uint16_t>(static_cast<uint8_t>(data[i]) |
                                                         static_cast<uint8_t>(data[i + 1]) << 8));
    ++next;
    const char id[2] = {static_cast<char>(next & 0xFF), static_cast<char>(next >> 8)};
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(2 * at), id, id + 2);
    record.SetData(data);
  }
}

void sheet_removed(std::vector<CarriedRecord>& globals, uint64_t at, uint64_t sheets) {
  each_position(globals, [at](uint16_t position, Field field) -> uint16_t {
    if (position < at) return position;
    if (position > at) return static_cast<uint16_t>(position - 1);
    // A range that began or ended at the sheet keeps the rest of it.
    return field == Field::kLast ? (at == 0 ? kNoSheet : static_cast<uint16_t>(at - 1)) : position;
  });
  set_self_count(globals, sheets);
  for (CarriedRecord& record : globals) {
    if (record.Code() != kTabId) continue;
    std::vector<char> data = record.Data();
    if (data.size() != 2 * (sheets + 1)) continue;
    data.erase(data.begin() + static_cast<std::ptrdiff_t>(2 * at),
               data.begin() + static_cast<std::ptrdiff_t>(2 * at + 2));
    record.SetData(data);
  }
}

bool has_local_names(const std::vector<CarriedRecord>& globals, uint64_t at) {
  return std::any_of(globals.begin(), globals.end(), [at](const CarriedRecord& record) {
    uint16_t sheet = 0;
    return record.Code() == kName && record.Get(sheet, kNameSheet) && sheet == at + 1;
  });
}

}  // namespace YExcel
}  // namespace YCompoundFiles
