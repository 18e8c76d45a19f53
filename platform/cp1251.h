#pragma once
// The fixed ANSI code page of the driver: Windows-1251. All 8-bit text inside
// the driver, on the wire and in files uses it; the automation boundary is
// UTF-16. Every byte maps to one UTF-16 unit and back (0x98 <-> U+0098), so
// binary data round-trips; a UTF-16 unit with no byte becomes '?'.
#include <string>
#include <string_view>

namespace mirelo {

char16_t ansiToWide(unsigned char byte);
std::u16string ansiToWide(std::string_view text);
std::string wideToAnsi(std::u16string_view text);
// The same into out, reusing its memory.
void ansiToWide(std::string_view text, std::u16string& out);
void wideToAnsi(std::u16string_view text, std::string& out);

// UTF-8 for terminals and command lines. Invalid UTF-8 becomes '?'.
std::string ansiToUtf8(std::string_view text);
std::string utf8ToAnsi(std::string_view text);
std::u16string utf8ToWide(std::string_view text);
std::string wideToUtf8(std::u16string_view text);

// Letters and case follow Windows-1251: Latin, Cyrillic (Ё/ё included) and
// the other Cyrillic letters of the page.
char ansiUpper(char c);
char ansiLower(char c);
std::string ansiUpperCase(std::string_view text);
std::string ansiLowerCase(std::string_view text);
// <0, 0, >0 comparing case-insensitively, as the Russian locale orders text.
int ansiCompareText(std::string_view a, std::string_view b);
bool ansiSameText(std::string_view a, std::string_view b);

}  // namespace mirelo
