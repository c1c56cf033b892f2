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
}

uint64_t Workbook::Read(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint64_t position = 0;
  uint16_t code = 0;
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
        return used ? position + used : 0;
      }
      case RecordCode::kBof:
        // A second BOF would open a substream the globals cannot hold:
        // replacing the first by it makes a stream no reader takes back.
        used = position == 0 ? bof.Read(p, n) : 0;
        break;
      case 0x003D:
        used = window1.Read(p, n);
        break;
      case 0x0031:
        used = append_and_read(fonts, p, n);
        break;
      case 0x041E:
        used = append_and_read(formats, p, n);
        break;
      case 0x00E0:
        used = append_and_read(xfs, p, n);
        break;
      case 0x0022:
      case 0x000E:
      case 0x0092:
        used = append_and_read(settings, p, n);
        break;
      case 0x0293:
        used = append_and_read(styles, p, n);
        break;
      case 0x0085:
        used = append_and_read(bound_sheets, p, n);
        break;
      case 0x00FC:
        used = shared_strings.Read(p, n);
        break;
      default: {
        Record skipped;
        used = skipped.Read(p, n);
        break;
      }
    }
    if (!used) return 0;
    position += used;
  }
  return 0;
}

uint64_t Workbook::DataSize() {
  uint64_t total = bof.RecordSize() + window1.RecordSize();
  for (Font& r : fonts) total += r.RecordSize();
  for (Record& r : formats) total += r.RecordSize();
  for (XF& r : xfs) total += r.RecordSize();
  for (Style& r : styles) total += r.RecordSize();
  for (Record& r : settings) total += r.RecordSize();
  for (BoundSheet& r : bound_sheets) total += r.RecordSize();
  return total + shared_strings.RecordSize() + eof.RecordSize();
}

uint64_t Workbook::Write(char* out) {
  uint64_t position = bof.Write(out);
  position += window1.Write(out + position);
  for (Font& r : fonts) position += r.Write(out + position);
  for (Record& r : formats) position += r.Write(out + position);
  for (XF& r : xfs) position += r.Write(out + position);
  for (Style& r : styles) position += r.Write(out + position);
  for (Record& r : settings) position += r.Write(out + position);
  for (BoundSheet& r : bound_sheets) position += r.Write(out + position);
  position += shared_strings.Write(out + position);
  position += eof.Write(out + position);
  return position;
}

}  // namespace YExcel
}  // namespace YCompoundFiles
