// Host texts are Windows-1252 bytes; workbooks hold Unicode. Conversion both
// ways, and the case folding sheet names are compared with.
#pragma once

#include <string>

// Every byte becomes its character; the five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of
// the same number, as the host's own conversion does.
std::u16string unicode_of_windows1252(const std::string& bytes);
// The reverse; a character the code page lacks becomes '?'.
std::string windows1252_of_unicode(const std::u16string& text);
// True when every character lies in Latin-1 (U+0000 to U+00FF), the range a
// workbook may store one byte per character.
bool is_latin1(const std::u16string& text);
// The Latin-1 bytes of such a text.
std::string latin1_of(const std::u16string& text);
// Lower case of the Latin, Greek and Cyrillic letters (as sheet names are
// compared by spreadsheet programs); other characters unchanged.
std::u16string folded_case(const std::u16string& text);
