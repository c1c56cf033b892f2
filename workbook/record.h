#pragma once
// The BIFF8 record base, the substream markers BOF and EOF, and a skipper
// for whole substreams.
//
// On file every record is a 4-byte header (u16 code, u16 data length, both
// little-endian) followed by its data. Data longer than one record may hold
// continues in CONTINUE records (code 0x003C) that directly follow it.
//
// Reading: Read(bytes, size) takes the record that starts at bytes, where
// size is the number of bytes available from there to the end of the
// stream. It returns the bytes consumed (the record, any CONTINUE records
// after it, and for some records their companions), or 0 when the bytes do
// not hold a complete, well-formed record; nothing outside the size is read.
// After a failed Read the object holds unspecified (but valid) contents.
//
// Writing: Write(out) serialises the record into out, which must hold
// RecordSize() bytes, and returns the bytes written, always RecordSize().
//
// Sizes: DataSize() is the data length, all parts together; RecordSize() the
// bytes on file, every record header included. Records with variable parts
// recompute both from their fields (and store them); fixed-layout records
// keep the data size their constructor or their last Read stored, and their
// record size counts the headers Write emits for it.
//
// Every record copies memberwise.
#include <cstdint>
#include <vector>

#include "byte_view.h"

namespace YCompoundFiles {
namespace YExcel {

namespace RecordCode {
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
}  // namespace RecordCode

class Record {
 public:
  // Data bytes of one record when the record carries no split points.
  static constexpr uint64_t kMaxPartData = 8224;
  static constexpr uint64_t kHeaderSize = 4;

  Record();
  explicit Record(uint16_t record_code);
  Record(const Record&) = default;
  Record& operator=(const Record&) = default;
  // Moves take the data along rather than copying it.
  Record(Record&&) noexcept = default;
  Record& operator=(Record&&) noexcept = default;
  virtual ~Record();

  virtual uint64_t Read(const char* bytes, uint64_t size);
  virtual uint64_t Write(char* out);
  virtual uint64_t DataSize();
  virtual uint64_t RecordSize();

  // The record size that Write produces for this many data bytes: the
  // stored split points when they describe a valid split of that much data,
  // else splits every 8224 bytes.
  uint64_t FramedSize(uint64_t data_bytes) const;

  uint16_t code;
  // After a Read: the data of every part, CONTINUE headers left out.
  std::vector<char> data;
  uint64_t data_size;
  uint64_t record_size;
  // Offset in data at which each CONTINUE part begins; empty when none.
  std::vector<uint64_t> continue_indices;

 protected:
  // The base Read, for derived records: the record with its CONTINUE parts.
  uint64_t ReadRecord(const char* bytes, uint64_t size) { return Record::Read(bytes, size); }
  // Fixed-layout records: data sized to data_size, new bytes zero.
  void SizeDataForWrite();

 private:
  bool SplitPointsFit(uint64_t data_bytes) const;
};

// A record's fixed fields listed once, in a member Fields(visit) that calls
// visit(field, offset[, width on file]) for each: Read runs the list with a
// FieldGetter, Write with a FieldPutter, so the two cannot drift apart.
// Fields are unsigned integers, doubles (8 bytes, IEEE 754), byte arrays
// and a trailing byte vector that takes the rest of the data.
class FieldGetter {
 public:
  explicit FieldGetter(const std::vector<char>& data) : data_(data) {}
  template <class T>
  void operator()(T& field, uint64_t offset, uint64_t width = 0) const {
    ByteCodec::Get(data_, field, offset, width);
  }
  void operator()(double& field, uint64_t offset) const;
  // Bytes kept as they are, such as a formula's cached result.
  template <size_t N>
  void operator()(uint8_t (&field)[N], uint64_t offset) const {
    ByteCodec::GetArray(data_, field, offset, N);
  }
  // The rest of the data from offset on, verbatim (a formula's tokens).
  void operator()(std::vector<char>& tail, uint64_t offset) const;

 private:
  const std::vector<char>& data_;
};

class FieldPutter {
 public:
  explicit FieldPutter(std::vector<char>& data) : data_(data) {}
  template <class T>
  void operator()(const T& field, uint64_t offset, uint64_t width = 0) const {
    ByteCodec::Put(data_, field, offset, width);
  }
  void operator()(const double& field, uint64_t offset) const;
  template <size_t N>
  void operator()(const uint8_t (&field)[N], uint64_t offset) const {
    ByteCodec::PutArray(data_, field, offset, N);
  }
  // The data must already hold offset + tail.size() bytes.
  void operator()(const std::vector<char>& tail, uint64_t offset) const;

 private:
  std::vector<char>& data_;
};

// Start of a substream. The owning container sets the six values.
struct BOF : Record {
  static constexpr uint16_t kGlobals = 0x0005;
  static constexpr uint16_t kWorksheet = 0x0010;

  BOF();
  uint64_t Read(const char* bytes, uint64_t size) override;
  uint64_t Write(char* out) override;

  // Sets the values this layer writes for a substream of the given type.
  void SetDefaults(uint16_t substream_type);

  uint16_t version;
  uint16_t type;
  uint16_t build;
  uint16_t year;
  uint32_t history_flags;
  uint32_t lowest_version;

 private:
  template <class Visit>
  void Fields(const Visit& visit);
};

// End of a substream: no fields.
struct YEOF : Record {
  YEOF();
};

// Skips one substream: the BOF record at bytes, every record after it,
// nested substreams included, up to and including the EOF that closes it.
// Returns the bytes skipped, or 0 when bytes does not start with a BOF or
// the substream is not closed within size bytes.
uint64_t skip_substream(const char* bytes, uint64_t size);

// The code of the record at offset, or false when fewer than 4 bytes (a
// whole record header) remain there.
bool peek_record_code(const ByteView& view, uint64_t offset, uint16_t& code);

}  // namespace YExcel
}  // namespace YCompoundFiles
