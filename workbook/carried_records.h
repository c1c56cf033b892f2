#pragma once
// Records of a substream that this layer does not model, kept as they were
// read and written back byte for byte in their place, and the places among
// them where the sections the layer writes itself go.
//
// A substream read from a file becomes a list of pieces in file order: each
// record the layer does not model (its header, its data and the CONTINUE
// records that follow it, or a whole embedded substream, BOF to EOF) is one
// piece of bytes; where the first record of a modelled section stood (the
// fonts, the sheet entries, a worksheet's cell table...) a piece holds only
// that section's slot, and the container writes the section there. Only
// what depends on what a save changes (a sheet index, a count) is patched
// in the bytes.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace YCompoundFiles {
namespace YExcel {

struct CarriedRecord {
  static constexpr uint16_t kNoSlot = 0;

  // The place of a modelled section.
  static CarriedRecord Slot(uint16_t slot) { return CarriedRecord{slot, {}}; }

  // Takes the record at from (size bytes from there to the end of the
  // stream) with the CONTINUE records after it; the bytes consumed, or 0
  // when they are not all there.
  uint64_t Read(const char* from, uint64_t size);
  // Takes count bytes as they are (a whole substream).
  void Take(const char* from, uint64_t count) { bytes.assign(from, from + count); }

  bool IsSlot() const { return slot != kNoSlot; }
  // The code of the (first) record; 0 for a slot.
  uint16_t Code() const;
  // Data bytes of all parts together, CONTINUE headers left out.
  uint64_t DataSize() const;
  // A field of the data, counted over the parts (a field may straddle a
  // CONTINUE header). False past the end.
  bool Get(uint16_t& value, uint64_t offset) const;
  bool Put(uint16_t value, uint64_t offset);
  // The data of all parts together.
  std::vector<char> Data() const;
  // Replaces the record by one of the same code holding data, split into
  // parts of at most 8224 bytes.
  void SetData(const std::vector<char>& data);

  uint16_t slot = kNoSlot;
  std::vector<char> bytes;

 private:
  // Where data byte offset lies in bytes, or UINT64_MAX.
  uint64_t At(uint64_t offset) const;
};

// Writes (out null: only sizes) the pieces in order, each slot through
// section(slot, out), which returns its bytes; returns the bytes in all.
using SectionWriter = std::function<uint64_t(uint16_t slot, char* out)>;
uint64_t write_pieces(const std::vector<CarriedRecord>& pieces, char* out,
                      const SectionWriter& section);

// Whether a slot is among the pieces.
bool has_slot(const std::vector<CarriedRecord>& pieces, uint16_t slot);
// Adds the slots of order that the pieces lack, each after the slot before
// it in order (the first at the start), so that every save writes every
// section.
void add_missing_slots(std::vector<CarriedRecord>& pieces, std::initializer_list<uint16_t> order);

}  // namespace YExcel
}  // namespace YCompoundFiles
