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

// Flags bits of a string followed by its phonetic reading, and of one with
// rich-text runs (formats of parts of it) after its characters.
constexpr uint8_t kPhoneticFlag = 0x04;
constexpr uint8_t kRichFlag = 0x08;

// One string as written: its characters in either width, and the phonetic
// reading that follows them, if any.
struct Text {
  bool wide;
  uint64_t count;  // characters written
  const char* narrow;
  const char16_t* wide_units;
  const std::string* phonetic = nullptr;
  const std::string* runs = nullptr;  // 4 bytes per run

  uint64_t CharacterBytes() const { return count * (wide ? 2 : 1); }
  // The header: count, flags and, with runs, their count, with a reading,
  // its size.
  uint64_t Header() const { return kStringHeader + (runs ? 2 : 0) + (phonetic ? 4 : 0); }
  uint64_t Write(char* out) const {
    const uint64_t header = Header();
    ByteCodec::Put(out, static_cast<uint16_t>(count), 0);
    ByteCodec::Put(out,
                   static_cast<uint8_t>((wide ? 1 : 0) | (phonetic ? kPhoneticFlag : 0) |
                                        (runs ? kRichFlag : 0)),
                   2);
    if (runs) ByteCodec::Put(out, static_cast<uint16_t>(runs->size() / 4), kStringHeader);
    if (phonetic)
      ByteCodec::Put(out, static_cast<uint32_t>(phonetic->size()), kStringHeader + (runs ? 2 : 0));
    if (!wide) {
      std::memcpy(out + header, narrow, count);
      return header + count;
    }
    for (uint64_t i = 0; i < count; ++i)
      ByteCodec::Put(out, static_cast<uint16_t>(wide_units[i]), header + 2 * i);
    return header + 2 * count;
  }
};

}  // namespace

SharedStringTable::SharedStringTable() : Record(0x00FC), total_count(0), unique_count(0) {
  DataSize();
  RecordSize();
}

uint64_t SharedStringTable::StringsToWrite() const {
  return std::min<uint64_t>(unique_count, Count());
}

uint64_t SharedStringTable::Layout(char* out) {
  const uint64_t part = kMaxPartData;
  uint64_t size = 8;
  uint64_t limit = part;
  continue_indices.clear();
  std::vector<char> whole;

  for (uint64_t i = 0, n = StringsToWrite(); i < n; ++i) {
    Text s{false, 0, "", nullptr};
    if (texts && TextAt(i) != TextTable::kNone) {
      const uint32_t t = TextAt(i);
      // Texts come in the order cells first show them, not as they lie.
      if (i + 16 < n && TextAt(i + 16) != TextTable::kNone) texts->Prefetch(TextAt(i + 16));
      const TextTable::Span text = texts->SpanOf(t);
      s.wide = text.wide;
      s.count = std::min<uint64_t>(text.length, LongUnicodeString::kMaxCharacters);
      s.narrow = text.wide ? nullptr : text.chars;
      s.wide_units = text.wide ? reinterpret_cast<const char16_t*>(text.chars) : nullptr;
      if (!phonetic.empty()) {
        const auto reading = phonetic.find(t);
        if (reading != phonetic.end()) s.phonetic = &reading->second;
      }
      if (!runs.empty()) {
        const auto formats = runs.find(t);
        if (formats != runs.end()) s.runs = &formats->second;
      }
    } else if (!texts) {
      LongUnicodeString& own = strings[i];
      if (out) own.flags = own.IsWide() ? 1 : 0;
      s.wide = own.IsWide();
      s.count = own.WrittenCharacters();
      s.narrow = own.narrow.data();
      s.wide_units = own.wide.data();
    }
    const uint64_t b = s.CharacterBytes();
    const uint64_t h = s.Header();
    const bool wide = s.wide;
    auto place_characters = [&]() {
      if (size + h + b <= limit) {
        if (out) s.Write(out + size);
        size += h + b;
        return;
      }
      if (limit - size < kMinRoomForSplit) {
        continue_indices.push_back(size);
        limit = size + part;
        if (size + h + b <= limit) {
          if (out) s.Write(out + size);
          size += h + b;
          return;
        }
      }
      // Split: the first piece holds the header and whole characters only.
      if (wide && (limit - size - h) % 2 == 1) --limit;
      uint64_t taken = limit - size - h;
      if (out) {
        whole.assign(h + b, 0);
        s.Write(whole.data());
        std::memcpy(out + size, whole.data(), h + taken);
      }
      continue_indices.push_back(limit);
      uint64_t rest = b - taken;
      size = limit;
      const uint64_t capacity = wide ? part - 2 : part - 1;
      const char flag = wide ? 1 : 0;
      while (rest > capacity) {
        if (out) {
          out[size] = flag;
          std::memcpy(out + size + 1, whole.data() + h + taken, capacity);
        }
        size += 1 + capacity;
        continue_indices.push_back(size);
        taken += capacity;
        rest -= capacity;
      }
      if (out) {
        out[size] = flag;
        std::memcpy(out + size + 1, whole.data() + h + taken, rest);
      }
      size += 1 + rest;
      limit = continue_indices.back() + part;
    };
    place_characters();
    // The runs and the reading follow the characters; a part that continues
    // them starts with no flags byte.
    for (const std::string* trailer : {s.runs, s.phonetic}) {
      for (uint64_t from = 0, left = trailer ? trailer->size() : 0; left > 0;) {
        if (size == limit) {
          continue_indices.push_back(size);
          limit = size + part;
        }
        const uint64_t here = std::min(left, limit - size);
        if (out) std::memcpy(out + size, trailer->data() + from, here);
        size += here;
        from += here;
        left -= here;
      }
    }
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
  // The data is laid out in the output itself, behind room for a header
  // per part; each part then moves down behind its header. No copy of the
  // table's bytes is held on the way.
  const uint64_t size = DataSize();
  const uint64_t parts = continue_indices.size() + 1;
  char* laid = out + kHeaderSize * parts;
  std::memset(laid, 0, size);
  ByteCodec::Put(laid, total_count, 0);
  ByteCodec::Put(laid, static_cast<uint32_t>(StringsToWrite()), 4);
  Layout(laid);
  char* to = out;
  for (uint64_t k = 0, begin = 0; k < parts; ++k) {
    const uint64_t end = k < continue_indices.size() ? continue_indices[k] : size;
    ByteCodec::Put(to, k == 0 ? code : RecordCode::kContinue, 0);
    ByteCodec::Put(to, static_cast<uint16_t>(end - begin), 2);
    std::memmove(to + kHeaderSize, laid + begin, end - begin);
    to += kHeaderSize + (end - begin);
    begin = end;
  }
  return static_cast<uint64_t>(to - out);
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
  if (texts) {
    strings.clear();
    text_index.clear();
    read_count = 0;
    // Read into an empty table, string i is text i and needs no list.
    if (texts->FixedCount() > 0) text_index.reserve(count);
    texts->Reserve(count, data.size() - 8 - kStringHeader * count);
  } else {
    strings.assign(count, LongUnicodeString());
  }
  if (!ReadSplitStrings(count)) return 0;
  // The texts hold what the record's bytes said.
  if (texts) {
    std::vector<char>().swap(data);
    texts->Trim();
  }
  return consumed;
}

void SharedStringTable::KeepText(const LongUnicodeString& s, uint64_t phonetic_at) {
  // A cell shows its text up to the first zero; an empty text stays a text.
  const uint32_t t = s.IsWide() ? texts->Append(std::u16string_view(s.wide.c_str()))
                                : texts->Append(std::string_view(s.narrow.c_str()));
  if (t == read_count && text_index.empty())
    ++read_count;
  else
    text_index.push_back(t);
  // The reading and the runs, kept as they were read, go with this text.
  if ((s.flags & kPhoneticFlag) && s.phonetic_size > 0)
    phonetic[t].assign(data.data() + phonetic_at, s.phonetic_size);
  if ((s.flags & kRichFlag) && s.run_count > 0)
    runs[t].assign(data.data() + phonetic_at - 4 * s.run_count, 4 * s.run_count);
}

bool SharedStringTable::ReadSplitStrings(uint64_t count) {
  const ByteView view(data.data(), data.size());
  const std::vector<uint64_t>& bounds = continue_indices;
  uint64_t position = 8;
  size_t next = 0;  // first boundary after the position
  LongUnicodeString scratch;
  uint64_t phonetic_at = 0;  // where the string's phonetic reading lies in data

  for (uint64_t i = 0; i < count; ++i) {
    LongUnicodeString& s = texts ? scratch : strings[i];
    // The string before goes to the table of texts (its reading ends in
    // more than one place).
    if (texts && i > 0) KeepText(s, phonetic_at);
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
      phonetic_at = position - ((s.flags & kPhoneticFlag) ? s.phonetic_size : 0);
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
    phonetic_at = position - ((s.flags & kPhoneticFlag) ? s.phonetic_size : 0);
  }
  if (texts && count > 0) KeepText(scratch, phonetic_at);
  return true;
}

}  // namespace GlobalsRecords
}  // namespace YExcel
}  // namespace YCompoundFiles
