#include "shared_string_table.h"

#include <algorithm>
#include <cstring>

namespace YCompoundFiles {
namespace YExcel {
namespace GlobalsRecords {
namespace {

// A string header never starts this close to the end of a record: it would
// leave a piece too small to be worth a split.
constexpr uint64_t kMinRoomForSplit = 12;
constexpr uint64_t kStringHeader = 3;

}  // namespace

SharedStringTable::SharedStringTable() : Record(0x00FC), total_count(0), unique_count(0) {
  DataSize();
  RecordSize();
}

uint64_t SharedStringTable::StringsToWrite() const {
  return std::min<uint64_t>(unique_count, strings.size());
}

uint64_t SharedStringTable::Layout(char* out) {
  const uint64_t part = kMaxPartData;
  uint64_t size = 8;
  uint64_t limit = part;
  continue_indices.clear();
  std::vector<char> whole;

  for (uint64_t i = 0, n = StringsToWrite(); i < n; ++i) {
    LongUnicodeString& s = strings[i];
    const uint64_t b = s.CharacterBytes();
    const bool wide = s.IsWide();
    if (size + kStringHeader + b <= limit) {
      if (out) s.Write(out + size);
      size += kStringHeader + b;
      continue;
    }
    if (limit - size < kMinRoomForSplit) {
      continue_indices.push_back(size);
      limit = size + part;
      if (size + kStringHeader + b <= limit) {
        if (out) s.Write(out + size);
        size += kStringHeader + b;
        continue;
      }
    }
    // Split: the first piece holds the header and whole characters only.
    if (wide && (limit - size) % 2 == 0) --limit;
    uint64_t taken = limit - size - kStringHeader;
    if (out) {
      whole.assign(kStringHeader + b, 0);
      s.Write(whole.data());
      std::memcpy(out + size, whole.data(), kStringHeader + taken);
    }
    continue_indices.push_back(limit);
    uint64_t rest = b - taken;
    size = limit;
    const uint64_t capacity = wide ? part - 2 : part - 1;
    const char flag = wide ? 1 : 0;
    while (rest > capacity) {
      if (out) {
        out[size] = flag;
        std::memcpy(out + size + 1, whole.data() + kStringHeader + taken, capacity);
      }
      size += 1 + capacity;
      continue_indices.push_back(size);
      taken += capacity;
      rest -= capacity;
    }
    if (out) {
      out[size] = flag;
      std::memcpy(out + size + 1, whole.data() + kStringHeader + taken, rest);
    }
    size += 1 + rest;
    limit = continue_indices.back() + part;
  }
  return size;
}

uint64_t SharedStringTable::DataSize() {
  return data_size = Layout(nullptr);
}

uint64_t SharedStringTable::RecordSize() {
  return record_size = FramedSize(DataSize());
}

uint64_t SharedStringTable::Write(char* out) {
  data.assign(DataSize(), 0);
  ByteCodec::Put(data, total_count, 0);
  ByteCodec::Put(data, static_cast<uint32_t>(StringsToWrite()), 4);
  Layout(data.data());
  return Record::Write(out);
}

uint64_t SharedStringTable::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  uint32_t total = 0;
  uint32_t count = 0;
  if (!ByteCodec::Get(data, total, 0) || !ByteCodec::Get(data, count, 4)) return 0;
  // Every string takes at least its 3-byte header: a larger count is damage,
  // not a reason to allocate.
  if (count > (data.size() - 8) / kStringHeader) return 0;
  total_count = total;
  unique_count = count;
  strings.assign(count, LongUnicodeString());
  if (!ReadSplitStrings(count)) return 0;
  return consumed;
}

bool SharedStringTable::ReadSplitStrings(uint64_t count) {
  const ByteView view(data.data(), data.size());
  const std::vector<uint64_t>& bounds = continue_indices;
  uint64_t position = 8;
  size_t next = 0;  // first boundary after the position

  for (uint64_t i = 0; i < count; ++i) {
    LongUnicodeString& s = strings[i];
    while (next < bounds.size() && bounds[next] <= position) ++next;

    uint16_t characters = 0;
    uint8_t flags = 0;
    if (!view.Get(characters, position) || !view.Get(flags, position + 2)) return false;
    s.flags = flags;
    const uint64_t header = kStringHeader + s.ExtraHeaderBytes();
    const uint64_t width = (flags & 1) ? 2 : 1;

    if (next == bounds.size() || position + header + characters * width <= bounds[next]) {
      const ByteView rest = view.From(position);
      const uint64_t used = s.Read(rest.data(), rest.size());
      if (!used) return false;
      position += used;
      continue;
    }

    // The characters cross at least one boundary.
    if (position + header > bounds[next]) return false;
    uint64_t field = position + kStringHeader;
    if (flags & 0x08) {
      view.Get(s.run_count, field);
      field += 2;
    }
    if (flags & 0x04) view.Get(s.phonetic_size, field);
    s.wide.clear();
    s.narrow.clear();

    uint64_t remaining = characters;
    const uint64_t first = (bounds[next] - position - header) / width;
    const ByteView first_piece = view.From(position + header);
    if (!s.AppendCharacters(first_piece.data(), first_piece.size(), first, width == 2))
      return false;
    remaining -= first;

    uint64_t cursor = bounds[next];
    while (remaining > 0) {
      const uint64_t part_end = next + 1 < bounds.size() ? bounds[next + 1] : data.size();
      uint8_t part_flags = 0;
      if (!view.Get(part_flags, cursor)) return false;
      const uint64_t part_width = (part_flags & 1) ? 2 : 1;
      const uint64_t room = part_end > cursor ? (part_end - cursor - 1) / part_width : 0;
      const uint64_t here = std::min(remaining, room);
      const ByteView piece = view.From(cursor);
      if (here == 0 || s.ReadCharacters(piece.data(), piece.size(), here) == 0) return false;
      remaining -= here;
      cursor += 1 + here * part_width;
      if (remaining > 0) {
        if (++next >= bounds.size()) return false;
        cursor = bounds[next];
      }
    }
    // Runs and phonetic data follow the last character; CONTINUE boundaries
    // inside them carry no flags byte.
    if (!view.Has(cursor, s.TrailerBytes())) return false;
    position = cursor + s.TrailerBytes();
  }
  return true;
}

}  // namespace GlobalsRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
