#include "workbook_content.h"

namespace YCompoundFiles {
namespace YExcel {
namespace {

template <class Char>
int64_t find(const std::vector<Workbook::BoundSheet>& sheets, const Char* name) {
  if (!name) return -1;
  for (size_t i = 0; i < sheets.size(); ++i)
    if (sheets[i].name.Equals(name)) return static_cast<int64_t>(i);
  return -1;
}

}  // namespace

int64_t WorkbookContent::FindSheet(const char* name) const {
  return find(globals.bound_sheets, name);
}

int64_t WorkbookContent::FindSheet(const char16_t* name) const {
  return find(globals.bound_sheets, name);
}

}  // namespace YExcel
}  // namespace YCompoundFiles
