#include "office_lock_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace YCompoundFiles {
namespace YExcel {
namespace {

// The owner file's UTF-16 copy of the name: its length at this offset,
// the characters after it.
constexpr size_t kWideNameAt = 54;
// The 8-bit name fills the bytes before it, after its length byte.
constexpr size_t kMaxNarrowName = kWideNameAt - 1;

// A character appended to a text for a message: Windows-1252 bytes that
// show as themselves; anything else (controls, characters outside the code
// page) shows as '?'.
void append_shown(std::string& text, uint32_t c) {
  // One more than shown, to tell a text cut short.
  if (text.size() > OfficeLock::kMaxText) return;
  const bool shown = (c >= 0x20 && c < 0x7f) || (c >= 0xa0 && c <= 0xff);
  text += shown ? static_cast<char>(c) : '?';
}

void end_text(std::string& text) {
  if (text.size() > OfficeLock::kMaxText) text.replace(OfficeLock::kMaxText - 3, 4, "...");
  const size_t last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
}

// UTF-8, each malformed byte one '?'.
std::string shown_utf8(const std::string& bytes) {
  std::string text;
  for (size_t at = 0; at < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
    uint32_t c = length == 1 ? lead : lead & (0x3f >> (length - 1));
    bool valid = (lead < 0x80 || lead >= 0xc2) && lead < 0xf5 && at + length <= bytes.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[at + k]);
      valid = (next & 0xc0) == 0x80;
      c = c << 6 | (next & 0x3f);
    }
    append_shown(text, valid ? c : '?');
    at += valid ? length : 1;
  }
  end_text(text);
  return text;
}

// The fields of a lock file's entry: separated by commas, ended by a
// semicolon; a backslash takes the next character as it is.
std::vector<std::string> fields_of(const std::string& bytes) {
  std::vector<std::string> fields(1);
  for (size_t at = 0; at < bytes.size(); ++at) {
    const char c = bytes[at];
    if (c == ';' || c == '\n' || c == '\r') break;
    if (c == ',') {
      fields.emplace_back();
    } else {
      if (c == '\\' && at + 1 < bytes.size()) ++at;
      fields.back() += bytes[at];
    }
  }
  for (std::string& field : fields) field = shown_utf8(field);
  return fields;
}

std::string who(const std::string& name, const std::string& login, const std::string& host) {
  std::string user = name.empty() ? login : name;
  std::string where = login != user ? login : "";
  if (!host.empty()) where += (where.empty() ? "on " : " on ") + host;
  if (user.empty()) return where.empty() ? "" : "someone " + where;
  return where.empty() ? user : user + " (" + where + ")";
}

// The first kMaxBytes of a regular file at the name; false when there is
// none that can be read.
bool read_lock_file(int folder, const std::string& name, std::string& bytes, struct stat& info) {
  FileSafety::Descriptor file(
      openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.IsOpen() || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  bytes.resize(OfficeLock::kMaxBytes);
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(file.Get(), &bytes[got], bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return true;
}

}  // namespace

OfficeLock OfficeLock::FromLockFile(const std::string& bytes) {
  std::vector<std::string> fields = fields_of(bytes);
  fields.resize(4);
  return {who(fields[0], fields[1], fields[2]), fields[3]};
}

OfficeLock OfficeLock::FromOwnerFile(const std::string& bytes) {
  OfficeLock lock;
  // The UTF-16 copy says what the code page may not; the 8-bit name where
  // there is none.
  const size_t wide = bytes.size() >= kWideNameAt + 2
                          ? static_cast<unsigned char>(bytes[kWideNameAt]) |
                                static_cast<unsigned char>(bytes[kWideNameAt + 1]) << 8
                          : 0;
  if (wide > 0 && kWideNameAt + 2 + 2 * wide <= bytes.size()) {
    for (size_t k = 0; k < wide; ++k) {
      const size_t at = kWideNameAt + 2 + 2 * k;
      const uint32_t unit =
          static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
      append_shown(lock.user, unit);
    }
  } else if (!bytes.empty()) {
    const size_t narrow = static_cast<unsigned char>(bytes[0]);
    if (narrow <= kMaxNarrowName && narrow < bytes.size())
      for (size_t k = 1; k <= narrow; ++k) {
        const auto c = static_cast<unsigned char>(bytes[k]);
        // Windows-1252 shows its 0x80 to 0x9f as itself, but for five.
        const bool undefined = c == 0x81 || c == 0x8d || c == 0x8f || c == 0x90 || c == 0x9d;
        if (c >= 0x80 && c < 0xa0 && !undefined && lock.user.size() <= kMaxText)
          lock.user += static_cast<char>(c);
        else
          append_shown(lock.user, c);
      }
  }
  end_text(lock.user);
  return lock;
}

std::vector<std::string> office_lock_names(const std::string& name) {
  std::vector<std::string> names = {".~lock." + name + "#", "~$" + name};
  const size_t dot = name.rfind('.');
  const size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
  if (stem >= 8) names.push_back("~$" + name.substr(2));
  if (stem == 7) names.push_back("~$" + name.substr(1));
  return names;
}

std::string office_lock_refusal(const FileSafety::FileTarget& target) {
  // Shown beside the file, as the file is shown.
  const std::string& shown = target.Shown();
  const size_t slash = shown.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : shown.substr(0, slash + 1);
  for (const std::string& name : office_lock_names(target.Name())) {
    struct stat info;
    if (fstatat(target.Folder(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // A name too long for the folder holds no lock file.
      if (errno == ENOENT || errno == ENAMETOOLONG) continue;
      return "cannot examine the office lock file \"" + folder + name +
             "\": " + std::strerror(errno);
    }
    OfficeLock lock;
    std::string bytes;
    if (read_lock_file(target.Folder(), name, bytes, info)) {
      if (name[0] == '.') {
        lock = OfficeLock::FromLockFile(bytes);
      } else {
        // The owner file says no time; it was written when the file was
        // opened.
        lock = OfficeLock::FromOwnerFile(bytes);
        char time[32];
        struct tm local;
        if (localtime_r(&info.st_mtime, &local) &&
            std::strftime(time, sizeof time, "%Y-%m-%d %H:%M", &local) > 0)
          lock.time = time;
      }
    }
    return "it is open in an office program" + (lock.user.empty() ? "" : " by " + lock.user) +
           (lock.time.empty() ? "" : " since " + lock.time) + ", says its lock file \"" + folder +
           name +
           "\": close the workbook there and try again, or remove the lock file if that program "
           "is no longer running";
  }
  return "";
}

}  // namespace YExcel
}  // namespace YCompoundFiles
