#include "content_survey.h"

#include <vector>

#include "byte_view.h"
#include "record.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

// Substream types of a BOF record.
constexpr uint16_t kGlobals = 0x0005;
constexpr uint16_t kModule = 0x0006;
constexpr uint16_t kMacroSheet = 0x0040;

constexpr uint16_t kFilePass = 0x002F;
constexpr uint16_t kProtect = 0x0012;
constexpr uint16_t kObProj = 0x00D3;

}  // namespace

ContentSurvey ContentSurvey::Of(const char* bytes, uint64_t size) {
  ContentSurvey survey;
  const ByteView view(bytes, size);
  // The substream types from the outermost in.
  std::vector<uint16_t> open;
  bool started = false;
  for (uint64_t p = 0; view.Has(p, Record::kHeaderSize);) {
    uint16_t code = 0, length = 0;
    view.Get(code, p);
    view.Get(length, p + 2);
    if (!view.Has(p + Record::kHeaderSize, length)) break;
    const ByteView data(bytes + p + Record::kHeaderSize, length);
    p += Record::kHeaderSize + length;
    // Bytes after the last substream that start no new one are not part of
    // the workbook (some writers pad the stream).
    if (started && open.empty() && code != RecordCode::kBof) break;
    if (code == RecordCode::kBof) {
      uint16_t type = 0;
      data.Get(type, 2);
      if (!started) type = kGlobals;
      started = true;
      if (type == kMacroSheet || type == kModule) survey.macros_ = true;
      open.push_back(type);
      continue;
    }
    if (code == RecordCode::kEof) {
      if (!open.empty()) open.pop_back();
      continue;
    }
    if (open.size() != 1 || open.back() != kGlobals) continue;
    uint16_t value = 0;
    if (code == kFilePass) survey.encrypted_ = true;
    if (code == kProtect && data.Get(value, 0) && value != 0) survey.structure_protected_ = true;
    if (code == kObProj) survey.macros_ = true;
  }
  return survey;
}

std::string ContentSurvey::Refusal(bool adds_sheet) const {
  if (encrypted_) return "it is encrypted with a password, which this export cannot open";
  if (macros_)
    return "it holds macros, which a new sheet could break and this export does not check";
  if (structure_protected_ && adds_sheet)
    return "its author protected the workbook's structure, which forbids adding sheets";
  return "";
}

}  // namespace YExcel
}  // namespace YCompoundFiles
