#pragma once
// Conversions between the C library's multibyte text (current locale) and
// UTF-16 code units, the form in which compound-document names are held.
// wchar_t is 32 bits on some platforms and 16 on others, so names never live
// in wchar_t; it is only the bridge to the C library's conversion functions.
//
// All functions convert the whole text (no truncation) and return false on
// any text they cannot convert (an invalid multibyte sequence, a lone
// surrogate, a character the locale cannot express); the output is then
// unspecified.
#include <string>

namespace YCompoundFiles {

bool narrow_to_utf16(const char* text, std::u16string& out);
bool utf16_to_narrow(const std::u16string& text, std::string& out);

}  // namespace YCompoundFiles
