// Office lock files hold whatever anyone with write access to the folder
// puts there. Any bytes, in either kind of file beside a workbook: what the
// parsers make of them is printable Windows-1252 and bounded, and the
// refusal to replace the workbook names that user and reads no further
// than the first OfficeLock::kMaxBytes.
//
// The first input byte chooses the kind of file (bit 0) and whether the
// content is repeated to far beyond what is read (bit 1); the rest is the
// content.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "file_replacement.h"
#include "fuzz_support.h"
#include "office_lock_files.h"

using YCompoundFiles::YExcel::OfficeLock;

namespace {

// Shows as itself in Windows-1252: no control, and none of the five bytes
// the code page leaves undefined.
bool printable(const std::string& text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f || c == 0x81 || c == 0x8d || c == 0x8f || c == 0x90 || c == 0x9d)
      return false;
  }
  return true;
}

void check_text(const std::string& text, size_t limit, const char* what) {
  FUZZ_CHECK(printable(text), std::string(what) + " not printable: " + text);
  FUZZ_CHECK(text.size() <= limit, std::string(what) + " too long: " + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool owner = data[0] & 1;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 2) && !bytes.empty())
    while (bytes.size() < 4 * OfficeLock::kMaxBytes) bytes += bytes;

  const std::string read = bytes.substr(0, OfficeLock::kMaxBytes);
  OfficeLock lock = owner ? OfficeLock::FromOwnerFile(read) : OfficeLock::FromLockFile(read);
  // A lock file's user is a name, a login and a host; the owner file's
  // one name.
  check_text(lock.user, owner ? OfficeLock::kMaxText : 3 * OfficeLock::kMaxText + 16, "user");
  check_text(lock.time, OfficeLock::kMaxText, "time");

  const std::string folder = fuzz::scratch_folder_path();
  const std::string name = owner ? "~$book.xls" : ".~lock.book.xls#";
  fuzz::write_file(folder + "/" + name, bytes.data(), bytes.size());
  FileSafety::FileTarget target;
  FUZZ_CHECK(target.Find(folder + "/book.xls"), target.Problem());
  const std::string refusal = YCompoundFiles::YExcel::office_lock_refusal(target);
  unlink((folder + "/" + name).c_str());
  FUZZ_CHECK(!refusal.empty(), "a lock file does not refuse the save");
  FUZZ_CHECK(lock.user.empty() || refusal.find(" by " + lock.user) != std::string::npos,
             "the refusal does not name " + lock.user + ": " + refusal);
  if (!owner)
    FUZZ_CHECK(lock.time.empty() || refusal.find(" since " + lock.time + ", ") != std::string::npos,
               "the refusal does not say " + lock.time + ": " + refusal);
  return 0;
}
