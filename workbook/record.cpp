#include "record.h"

#include <algorithm>
#include <cstring>

namespace YCompoundFiles {
namespace YExcel {

Record::Record() : Record(0) {}

Record::Record(uint16_t record_code) : code(record_code), data_size(0), record_size(kHeaderSize) {}

Record::~Record() = default;

uint64_t Record::Read(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint16_t first_code = 0;
  uint16_t length = 0;
  if (!view.Get(first_code, 0) || !view.Get(length, 2) || !view.Has(kHeaderSize, length)) return 0;

  // The data is gathered in place, reusing its room: a record read again and
  // again (a scratch record) allocates nothing after the first.
  data.assign(view.data() + kHeaderSize, view.data() + kHeaderSize + length);
  continue_indices.clear();
  uint64_t consumed = kHeaderSize + length;
  uint16_t next = 0;
  while (view.Get(next, consumed) && next == RecordCode::kContinue) {
    uint16_t part = 0;
    if (!view.Get(part, consumed + 2) || !view.Has(consumed + kHeaderSize, part)) return 0;
    continue_indices.push_back(data.size());
    const char* from = view.data() + consumed + kHeaderSize;
    data.insert(data.end(), from, from + part);
    consumed += kHeaderSize + part;
  }

  code = first_code;
  data_size = data.size();
  record_size = consumed;
  return consumed;
}

bool Record::SplitPointsFit(uint64_t data_bytes) const {
  if (continue_indices.empty()) return false;
  uint64_t begin = 0;
  for (uint64_t index : continue_indices) {
    if (index < begin || index - begin > 0xFFFF) return false;
    begin = index;
  }
  return begin <= data_bytes && data_bytes - begin <= 0xFFFF;
}

uint64_t Record::FramedSize(uint64_t data_bytes) const {
  uint64_t headers = 1;
  if (SplitPointsFit(data_bytes))
    headers += continue_indices.size();
  else if (data_bytes > 0)
    headers += (data_bytes - 1) / kMaxPartData;
  return data_bytes + kHeaderSize * headers;
}

void Record::SizeDataForWrite() {
  data.resize(data_size, 0);
}

uint64_t Record::Write(char* out) {
  if (data.size() < data_size) data.resize(data_size, 0);

  uint64_t position = 0;
  auto part = [&](uint16_t part_code, uint64_t begin, uint64_t length) {
    ByteCodec::Put(out, part_code, position);
    ByteCodec::Put(out, static_cast<uint16_t>(length), position + 2);
    if (length) std::memcpy(out + position + kHeaderSize, data.data() + begin, length);
    position += kHeaderSize + length;
  };

  if (SplitPointsFit(data_size)) {
    uint64_t begin = 0;
    uint16_t part_code = code;
    for (uint64_t index : continue_indices) {
      part(part_code, begin, index - begin);
      part_code = RecordCode::kContinue;
      begin = index;
    }
    part(part_code, begin, data_size - begin);
    return position;
  }

  uint64_t begin = 0;
  uint16_t part_code = code;
  while (data_size - begin > kMaxPartData) {
    part(part_code, begin, kMaxPartData);
    part_code = RecordCode::kContinue;
    begin += kMaxPartData;
  }
  part(part_code, begin, data_size - begin);
  return position;
}

uint64_t Record::DataSize() {
  return data_size;
}

// What Write emits: a record read whole with more than 8224 data bytes is
// written as several parts, each with its own header, so the size read from
// the file would undercount it.
uint64_t Record::RecordSize() {
  record_size = FramedSize(data_size);
  return record_size;
}

BOF::BOF()
    : Record(RecordCode::kBof),
      version(0),
      type(0),
      build(0),
      year(0),
      history_flags(0),
      lowest_version(0) {
  data_size = 16;
  record_size = 20;
}

void BOF::SetDefaults(uint16_t substream_type) {
  version = 0x0600;
  type = substream_type;
  build = 6560;
  year = 1997;
  history_flags = 0x0000C0C9;
  lowest_version = 0x00000306;
}

template <class Visit>
void BOF::Fields(const Visit& visit) {
  visit(version, 0);
  visit(type, 2);
  visit(build, 4);
  visit(year, 6);
  visit(history_flags, 8);
  visit(lowest_version, 12);
}

uint64_t BOF::Read(const char* bytes, uint64_t size) {
  const uint64_t consumed = ReadRecord(bytes, size);
  if (!consumed) return 0;
  // A short BOF keeps its length; the fields it lacks read as zero.
  Fields(FieldGetter(data));
  return consumed;
}

uint64_t BOF::Write(char* out) {
  SizeDataForWrite();
  Fields(FieldPutter(data));
  return Record::Write(out);
}

YEOF::YEOF() : Record(RecordCode::kEof) {}

bool peek_record_code(const ByteView& view, uint64_t offset, uint16_t& code) {
  code = 0;
  return view.Has(offset, Record::kHeaderSize) && view.Get(code, offset);
}

uint64_t skip_substream(const char* bytes, uint64_t size) {
  const ByteView view(bytes, size);
  uint16_t code = 0;
  if (!peek_record_code(view, 0, code) || code != RecordCode::kBof) return 0;
  uint64_t position = 0;
  uint64_t depth = 0;
  while (peek_record_code(view, position, code)) {
    uint16_t length = 0;
    view.Get(length, position + 2);
    if (!view.Has(position + Record::kHeaderSize, length)) return 0;
    position += Record::kHeaderSize + length;
    if (code == RecordCode::kBof) ++depth;
    if (code == RecordCode::kEof && --depth == 0) return position;
  }
  return 0;
}

void FieldGetter::operator()(double& field, uint64_t offset) const {
  uint64_t bits = 0;
  ByteCodec::Get(data_, bits, offset);
  std::memcpy(&field, &bits, sizeof field);
}

void FieldGetter::operator()(std::vector<char>& tail, uint64_t offset) const {
  if (offset > data_.size()) offset = data_.size();
  tail.assign(data_.begin() + static_cast<std::ptrdiff_t>(offset), data_.end());
}

void FieldPutter::operator()(const double& field, uint64_t offset) const {
  uint64_t bits = 0;
  std::memcpy(&bits, &field, sizeof bits);
  ByteCodec::Put(data_, bits, offset);
}

void FieldPutter::operator()(const std::vector<char>& tail, uint64_t offset) const {
  if (!tail.empty() && offset + tail.size() <= data_.size())
    std::memcpy(data_.data() + offset, tail.data(), tail.size());
}

}  // namespace YExcel
}  // namespace YCompoundFiles
