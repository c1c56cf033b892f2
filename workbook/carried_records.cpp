#include "carried_records.h"

#include <algorithm>
#include <cstring>

#include "byte_view.h"
#include "record.h"

namespace YCompoundFiles {
namespace YExcel {

uint64_t CarriedRecord::Read(const char* from, uint64_t size) {
  const ByteView view(from, size);
  uint16_t length = 0;
  if (!view.Get(length, 2) || !view.Has(Record::kHeaderSize, length)) return 0;
  uint64_t consumed = Record::kHeaderSize + length;
  uint16_t next = 0;
  while (view.Get(next, consumed) && next == RecordCode::kContinue) {
    if (!view.Get(length, consumed + 2) || !view.Has(consumed + Record::kHeaderSize, length))
      return 0;
    consumed += Record::kHeaderSize + length;
  }
  slot = kNoSlot;
  bytes.assign(from, from + consumed);
  return consumed;
}

uint16_t CarriedRecord::Code() const {
  uint16_t code = 0;
  ByteView(bytes.data(), bytes.size()).Get(code, 0);
  return code;
}

uint64_t CarriedRecord::At(uint64_t offset) const {
  const ByteView view(bytes.data(), bytes.size());
  uint64_t part = 0;
  uint16_t length = 0;
  while (view.Get(length, part + 2)) {
    if (offset < length) return part + Record::kHeaderSize + offset;
    offset -= length;
    part += Record::kHeaderSize + length;
  }
  return UINT64_MAX;
}

uint64_t CarriedRecord::DataSize() const {
  const ByteView view(bytes.data(), bytes.size());
  uint64_t total = 0;
  uint16_t length = 0;
  for (uint64_t part = 0; view.Get(length, part + 2); part += Record::kHeaderSize + length)
    total += length;
  return total;
}

bool CarriedRecord::Get(uint16_t& value, uint64_t offset) const {
  const uint64_t low = At(offset);
  const uint64_t high = At(offset + 1);
  if (low == UINT64_MAX || high == UINT64_MAX) return false;
  value = static_cast<uint16_t>(static_cast<uint8_t>(bytes[low]) | static_cast<uint8_t>(bytes[high])
                                                                       << 8);
  return true;
}

bool CarriedRecord::Put(uint16_t value, uint64_t offset) {
  const uint64_t low = At(offset);
  const uint64_t high = At(offset + 1);
  if (low == UINT64_MAX || high == UINT64_MAX) return false;
  bytes[low] = static_cast<char>(value & 0xFF);
  bytes[high] = static_cast<char>(value >> 8);
  return true;
}

std::vector<char> CarriedRecord::Data() const {
  const ByteView view(bytes.data(), bytes.size());
  std::vector<char> data;
  uint16_t length = 0;
  for (uint64_t part = 0; view.Get(length, part + 2); part += Record::kHeaderSize + length)
    data.insert(data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(part + Record::kHeaderSize),
                bytes.begin() + static_cast<std::ptrdiff_t>(part + Record::kHeaderSize + length));
  return data;
}

void CarriedRecord::SetData(const std::vector<char>& data) {
  Record record(Code());
  record.data = data;
  record.data_size = data.size();
  bytes.assign(record.RecordSize(), 0);
  record.Write(bytes.data());
}

uint64_t write_pieces(const std::vector<CarriedRecord>& pieces, char* out,
                      const SectionWriter& section) {
  uint64_t position = 0;
  for (const CarriedRecord& piece : pieces) {
    if (piece.IsSlot()) {
      position += section(piece.slot, out ? out + position : nullptr);
      continue;
    }
    if (out) std::memcpy(out + position, piece.bytes.data(), piece.bytes.size());
    position += piece.bytes.size();
  }
  return position;
}

bool has_slot(const std::vector<CarriedRecord>& pieces, uint16_t slot) {
  return std::any_of(pieces.begin(), pieces.end(),
                     [slot](const CarriedRecord& p) { return p.slot == slot; });
}

void add_missing_slots(std::vector<CarriedRecord>& pieces, std::initializer_list<uint16_t> order) {
  const uint16_t* previous = nullptr;
  for (const uint16_t* slot = order.begin(); slot != order.end(); previous = slot++) {
    if (has_slot(pieces, *slot)) continue;
    auto at = pieces.begin();
    if (previous)
      at = std::find_if(pieces.begin(), pieces.end(),
                        [&](const CarriedRecord& p) { return p.slot == *previous; }) +
           1;
    pieces.insert(at, CarriedRecord::Slot(*slot));
  }
}

}  // namespace YExcel
}  // namespace YCompoundFiles
