#include "text_conversion.h"

#include <cwchar>
#include <vector>

namespace YCompoundFiles {

bool narrow_to_utf16(const char* text, std::u16string& out) {
  out.clear();
  if (text == nullptr) return false;
  std::mbstate_t state{};
  const char* src = text;
  // A first pass measures, so that no name is ever cut to a fixed buffer.
  const size_t length = std::mbsrtowcs(nullptr, &src, 0, &state);
  if (length == static_cast<size_t>(-1)) return false;
  std::vector<wchar_t> wide(length + 1);
  state = std::mbstate_t{};
  src = text;
  if (std::mbsrtowcs(wide.data(), &src, length + 1, &state) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned long c = static_cast<unsigned long>(wide[i]);
    if (c >= 0xD800 && c <= 0xDFFF && sizeof(wchar_t) > 2) return false;
    if (c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      const unsigned long v = c - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

bool utf16_to_narrow(const std::u16string& text, std::string& out) {
  out.clear();
  std::vector<wchar_t> wide;
  wide.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (sizeof(wchar_t) > 2 && u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      const unsigned long c = 0x10000 + ((static_cast<unsigned long>(u) - 0xD800) << 10) +
                              (static_cast<unsigned long>(text[i + 1]) - 0xDC00);
      wide.push_back(static_cast<wchar_t>(c));
      ++i;
    } else if (sizeof(wchar_t) > 2 && u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    } else {
      wide.push_back(static_cast<wchar_t>(u));
    }
  }
  wide.push_back(L'\0');
  std::mbstate_t state{};
  const wchar_t* src = wide.data();
  const size_t length = std::wcsrtombs(nullptr, &src, 0, &state);
  if (length == static_cast<size_t>(-1)) return false;
  std::vector<char> narrow(length + 1);
  state = std::mbstate_t{};
  src = wide.data();
  if (std::wcsrtombs(narrow.data(), &src, length + 1, &state) != length) return false;
  out.assign(narrow.data(), length);
  return true;
}

}  // namespace YCompoundFiles
