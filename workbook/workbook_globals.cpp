#include "workbook_globals.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

template <class T>
uint64_t append_and_read(std::vector<T>& records, const char* bytes, uint64_t size) {
  records.emplace_back();
  return records.back().Read(bytes, size);
}

}  // namespace

Workbook::Workbook() {
  bof.SetDefaults(BOF::kGlobals);
  for (uint16_t slot = kWindow1Slot; slot <= kStringsSlot; ++slot)
    pieces.push_back(CarriedRecord::Slot(slot));
}

uint64_t Workbook::Read(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint64_t position = 0;
  uint16_t code = 0;
  pieces.clear();
  // A modelled kind's section goes where its first record stood.
  auto at_first = [&](uint16_t slot) {
    if (!has_slot(pieces, slot)) pieces.push_back(CarriedRecord::Slot(slot));
  };
  while (peek_record_code(view, position, code)) {
    const ByteView at = view.From(position);
    const char* p = at.data();
    const uint64_t n = at.size();
    uint64_t used = 0;
    switch (code) {
      case RecordCode::kEof: {
        // Consumed by its own length, which a well-formed file keeps at 0.
        Record end;
        used = end.Read(p, n);
        // Every section has a place, so that what is added is written.
        add_missing_slots(pieces, {kWindow1Slot, kFontsSlot, kFormatsSlot, kXFsSlot, kStylesSlot,
                                   kSettingsSlot, kBoundSheetsSlot, kStringsSlot});
        return used ? position + used : 0;
      }
      case RecordCode::kBof:
        // A second BOF would open a substream the globals cannot hold:
        // replacing the first by it makes a stream no reader takes back.
        used = position == 0 ? bof.Read(p, n) : 0;
        break;
      case 0x003D:
        // Further windows are carried.
        if (has_slot(pieces, kWindow1Slot)) {
          used = pieces.emplace_back().Read(p, n);
          break;
        }
        at_first(kWindow1Slot);
        used = window1.Read(p, n);
        break;
      case 0x0031:
        at_first(kFontsSlot);
        used = append_and_read(fonts, p, n);
        break;
      case 0x041E:
        at_first(kFormatsSlot);
        used = append_and_read(formats, p, n);
        break;
      case 0x00E0:
        at_first(kXFsSlot);
        used = append_and_read(xfs, p, n);
        break;
      case 0x0293:
        at_first(kStylesSlot);
        used = append_and_read(styles, p, n);
        break;
      case 0x0085:
        at_first(kBoundSheetsSlot);
        used = append_and_read(bound_sheets, p, n);
        break;
      case 0x00FC:
        // A second table would be a second set of indices; it is damage.
        if (has_slot(pieces, kStringsSlot)) return 0;
        at_first(kStringsSlot);
        used = shared_strings.Read(p, n);
        break;
      case 0x00FF: {
        ExtSST dropped;
        used = dropped.Read(p, n);
        break;
      }
      default:
        used = pieces.emplace_back().Read(p, n);
        break;
    }
    if (!used) return 0;
    position += used;
  }
  return 0;
}

uint64_t Workbook::WriteOrSize(char* out) {
  const auto section = [this](uint16_t slot, char* at) -> uint64_t {
    uint64_t written = 0;
    auto emit = [&](auto& record) {
      written += at ? record.Write(at + written) : record.RecordSize();
    };
    switch (slot) {
      case kWindow1Slot:
        emit(window1);
        break;
      case kFontsSlot:
        for (Font& r : fonts) emit(r);
        break;
      case kFormatsSlot:
        for (Record& r : formats) emit(r);
        break;
      case kXFsSlot:
        for (XF& r : xfs) emit(r);
        break;
      case kStylesSlot:
        for (Style& r : styles) emit(r);
        break;
      case kSettingsSlot:
        for (Record& r : settings) emit(r);
        break;
      case kBoundSheetsSlot:
        for (BoundSheet& r : bound_sheets) emit(r);
        break;
      case kStringsSlot:
        emit(shared_strings);
        break;
      default:
        break;
    }
    return written;
  };
  uint64_t position = out ? bof.Write(out) : bof.RecordSize();
  position += write_pieces(pieces, out ? out + position : nullptr, section);
  return position + (out ? eof.Write(out + position) : eof.RecordSize());
}

uint64_t Workbook::DataSize() {
  return WriteOrSize(nullptr);
}

uint64_t Workbook::Write(char* out) {
  return WriteOrSize(out);
}

}  // namespace YExcel
}  // namespace YCompoundFiles
