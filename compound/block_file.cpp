#include "block_file.h"

#include <algorithm>
#include <cstring>

#include "text_conversion.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace YCompoundFiles {
namespace {

// Large moves go through a buffer of this many bytes at most.
constexpr uint64_t kMoveBufferBytes = 1 << 20;

bool wide_name(const char16_t* name, std::string& narrow) {
  if (name == nullptr) return false;
  return utf16_to_narrow(std::u16string(name), narrow);
}

bool truncate_file(std::FILE* file, uint64_t size) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

#ifndef _WIN32
// open() of a named pipe waits for its other end, for ever if none comes:
// the file is opened without waiting, and anything but a regular file
// (pipe, socket, device, folder) is refused before a byte is read. The
// descriptor then blocks again, as the stream expects.
std::FILE* open_regular(const char* name, int flags, const char* mode) {
  const int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat info;
  const int status = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fcntl(fd, F_GETFL) : -1;
  std::FILE* file =
      status >= 0 && fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0 ? fdopen(fd, mode) : nullptr;
  if (file == nullptr) close(fd);
  return file;
}
#endif

// A stream on a duplicate of the caller's descriptor, when that is a
// regular file; fdopen refuses a mode the descriptor's access lacks.
std::FILE* open_duplicate(int descriptor, const char* mode) {
#ifdef _WIN32
  const int fd = descriptor < 0 ? -1 : _dup(descriptor);
  std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, mode);
  if (file == nullptr && fd >= 0) _close(fd);
#else
  const int fd = descriptor < 0 ? -1 : fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  struct stat info;
  std::FILE* file =
      fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, mode) : nullptr;
  if (file == nullptr && fd >= 0) close(fd);
#endif
  return file;
}

}  // namespace

BlockFile::BlockFile() = default;

BlockFile::~BlockFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool BlockFile::Create(const char16_t* name) {
  std::string narrow;
  if (!wide_name(name, narrow)) return false;
  return Create(narrow.c_str());
}

bool BlockFile::Create(const char* name) {
  Close();
  if (name == nullptr) return false;
#ifdef _WIN32
  std::FILE* f = std::fopen(name, "wb");
#else
  std::FILE* f = open_regular(name, O_WRONLY | O_CREAT | O_TRUNC, "wb");
#endif
  if (f == nullptr) return false;
  if (std::fclose(f) != 0) return false;
  return Open(name, kRead | kWrite);
}

bool BlockFile::Open(const char16_t* name, uint32_t mode) {
  std::string narrow;
  if (!wide_name(name, narrow)) return false;
  return Open(narrow.c_str(), mode);
}

bool BlockFile::Open(const char* name, uint32_t mode) {
  Close();
  if (name == nullptr || (mode & (kRead | kWrite)) == 0) return false;
    // Write access never truncates: the file must exist, as it must for reading.
#ifdef _WIN32
  std::FILE* f = std::fopen(name, (mode & kWrite) ? "r+b" : "rb");
#else
  std::FILE* f =
      (mode & kWrite) ? open_regular(name, O_RDWR, "r+b") : open_regular(name, O_RDONLY, "rb");
#endif
  if (f == nullptr) return false;
  if (!Adopt(f, mode)) return false;
  name_ = name;
  return true;
}

bool BlockFile::CreateOn(int descriptor) {
  Close();
  std::FILE* f = open_duplicate(descriptor, "r+b");
  if (f == nullptr) return false;
  if (!truncate_file(f, 0)) {
    std::fclose(f);
    return false;
  }
  return Adopt(f, kRead | kWrite);
}

bool BlockFile::OpenOn(int descriptor, uint32_t mode) {
  Close();
  if ((mode & (kRead | kWrite)) == 0) return false;
  std::FILE* f = open_duplicate(descriptor, (mode & kWrite) ? "r+b" : "rb");
  return f != nullptr && Adopt(f, mode);
}

// Takes the opened stream and finds the file's size.
bool BlockFile::Adopt(std::FILE* f, uint32_t mode) {
  mode_ = mode;
  file_ = f;
  write_failed_ = false;
#ifdef _WIN32
  const bool seek_ok = _fseeki64(file_, 0, SEEK_END) == 0;
  const long long end = seek_ok ? _ftelli64(file_) : -1;
#else
  const bool seek_ok = fseeko(file_, 0, SEEK_END) == 0;
  const long long end = seek_ok ? static_cast<long long>(ftello(file_)) : -1;
#endif
  if (end < 0) {
    Close();
    return false;
  }
  file_size_ = static_cast<uint64_t>(end);
  Recount();
  return true;
}

bool BlockFile::Close() {
  bool ok = true;
  if (file_ != nullptr) {
    ok = std::fclose(file_) == 0 && !write_failed_;
    file_ = nullptr;
  }
  name_.clear();
  file_size_ = 0;
  block_count_ = 0;
  block_size_ = 512;
  write_failed_ = false;
  return ok;
}

bool BlockFile::Flush() {
  if (file_ == nullptr) return false;
  if (std::fflush(file_) != 0) write_failed_ = true;
  return !write_failed_;
}

void BlockFile::SetBlockSize(uint64_t size) {
  if (size == 0) return;
  block_size_ = size;
  Recount();
}

void BlockFile::Recount() {
  block_count_ = file_size_ / block_size_ + (file_size_ % block_size_ ? 1 : 0);
}

bool BlockFile::Seek(uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file_, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool BlockFile::ReadBlock(uint64_t index, char* buffer) {
  return ReadBlocks(index, 1, buffer);
}

bool BlockFile::ReadBlocks(uint64_t index, uint64_t count, char* buffer) {
  if (file_ == nullptr || !(mode_ & kRead)) return false;
  if (index > block_count_ || count > block_count_ - index) return false;
  if (count == 0) return true;
  const uint64_t offset = index * block_size_;
  const uint64_t wanted = count * block_size_;
  // Only the file's last block can be partial; its missing tail reads as zero.
  const uint64_t present = std::min<uint64_t>(wanted, file_size_ - offset);
  if (!Seek(offset)) return false;
  if (std::fread(buffer, 1, present, file_) != present) {
    std::clearerr(file_);
    return false;
  }
  std::memset(buffer + present, 0, wanted - present);
  return true;
}

bool BlockFile::WriteBlock(uint64_t index, const char* buffer) {
  return WriteBlocks(index, 1, buffer);
}

bool BlockFile::WriteBlocks(uint64_t index, uint64_t count, const char* buffer) {
  if (file_ == nullptr || !(mode_ & kWrite)) return false;
  if (count == 0) return true;
  if (!Seek(index * block_size_) ||
      std::fwrite(buffer, 1, count * block_size_, file_) != count * block_size_) {
    std::clearerr(file_);
    write_failed_ = true;
    return false;
  }
  const uint64_t end = (index + count) * block_size_;
  if (end > file_size_) {
    file_size_ = end;
    Recount();
  }
  return true;
}

bool BlockFile::SwapBlocks(uint64_t a, uint64_t b) {
  if (file_ == nullptr || !(mode_ & kWrite) || a >= block_count_ || b >= block_count_) return false;
  if (a == b) return true;
  std::vector<char> first(block_size_), second(block_size_);
  return ReadBlock(a, first.data()) && ReadBlock(b, second.data()) &&
         WriteBlock(a, second.data()) && WriteBlock(b, first.data());
}

// Copies count blocks from `from` to `to` in chunks; safe for overlapping
// ranges in either direction because the chunks are taken from the end that
// is overwritten last.
bool BlockFile::MoveRange(uint64_t from, uint64_t to, uint64_t count) {
  if (from == to || count == 0) return true;
  const uint64_t chunk_blocks = std::max<uint64_t>(1, kMoveBufferBytes / block_size_);
  std::vector<char> buffer(std::min(count, chunk_blocks) * block_size_);
  uint64_t done = 0;
  while (done < count) {
    const uint64_t n = std::min(chunk_blocks, count - done);
    const uint64_t offset = (to < from) ? done : count - done - n;
    if (!ReadBlocks(from + offset, n, buffer.data()) || !WriteBlocks(to + offset, n, buffer.data()))
      return false;
    done += n;
  }
  return true;
}

bool BlockFile::MoveBlock(uint64_t from, uint64_t to) {
  if (file_ == nullptr || !(mode_ & kWrite) || from >= block_count_ || to >= block_count_)
    return false;
  if (from == to) return true;
  std::vector<char> moving(block_size_);
  if (!ReadBlock(from, moving.data())) return false;
  const bool ok =
      (from > to) ? MoveRange(to, to + 1, from - to) : MoveRange(from + 1, from, to - from);
  return ok && WriteBlock(to, moving.data());
}

bool BlockFile::InsertBlock(uint64_t index, const char* buffer) {
  if (file_ == nullptr || !(mode_ & kWrite)) return false;
  if (index >= block_count_) return WriteBlock(index, buffer);
  return MoveRange(index, index + 1, block_count_ - index) && WriteBlock(index, buffer);
}

bool BlockFile::EraseBlock(uint64_t index) {
  return EraseBlocks({index});
}

bool BlockFile::EraseBlocks(std::vector<uint64_t> indices) {
  if (file_ == nullptr || !(mode_ & kWrite)) return false;
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  if (!indices.empty() && indices.back() >= block_count_) return false;
  if (indices.empty()) return true;
  // Survivors move down run by run; nothing outside them is read or held.
  uint64_t write_at = indices[0];
  for (size_t k = 0; k < indices.size(); ++k) {
    const uint64_t run_start = indices[k] + 1;
    const uint64_t run_end = (k + 1 < indices.size()) ? indices[k + 1] : block_count_;
    if (!MoveRange(run_start, write_at, run_end - run_start)) return false;
    write_at += run_end - run_start;
  }
  // The file's last block may be partial; it keeps its length when it survives.
  const bool last_erased = indices.back() == block_count_ - 1;
  const uint64_t last_length = file_size_ - (block_count_ - 1) * block_size_;
  const uint64_t kept = block_count_ - indices.size();
  const uint64_t new_size =
      kept == 0 ? 0 : (last_erased ? kept * block_size_ : (kept - 1) * block_size_ + last_length);
  if (!truncate_file(file_, new_size)) {
    write_failed_ = true;
    return false;
  }
  file_size_ = new_size;
  Recount();
  return true;
}

}  // namespace YCompoundFiles
