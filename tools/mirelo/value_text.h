#pragma once
// Values as the shell reads and prints them. Text crosses the command line
// and standard input/output as UTF-8 with backslash escapes, so that one line
// holds any value: "\\" is a backslash, "\r", "\n", "\t" are CR, LF and TAB,
// and "\xHH" is the Windows-1251 byte HH (so the binary members ClientData,
// ServerData and DataBlock can carry every byte). Printing escapes the
// backslash, CR, LF, TAB and every other control character (below 0x20,
// DEL, and U+0098, the one a Windows-1251 byte gives) as "\xHH".
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace mirelo::shell {

// UTF-16 text of the object to one UTF-8 output field, escaped.
std::string escapeText(std::u16string_view text);
// UTF-8 text taken as it is (no escapes) to UTF-16; raises UsageError for
// bytes that are not UTF-8.
std::u16string utf8Text(std::string_view utf8);
// Raises UsageError when text holds a character that Windows-1251 lacks: the
// object keeps 8-bit text, so it would reach a terminal or a file name as '?'.
void requireWindows1251(std::u16string_view text);
// A UTF-8 input field with escapes to UTF-16; raises UsageError for an
// unknown escape, "\x" without two hexadecimal digits, a trailing "\" or
// bytes that are not UTF-8.
std::u16string unescapeText(std::string_view utf8);

// Decimal (optionally signed, within 32 bits) or "0x" and 1 to 8
// hexadecimal digits (taken as the 32-bit pattern); blanks around are
// allowed. Raises UsageError.
int32_t parseInteger(std::string_view text);
// "true", "false", "1", "0", "-1" in any letter case; raises UsageError.
bool parseBoolean(std::string_view text);
// The value for a property of type vt (VT_I4, VT_BOOL or VT_BSTR); raises
// UsageError when it does not parse, when text holds a character that
// Windows-1251 lacks (the object would keep '?'), or when the type is not
// one the shell writes.
Variant parseValue(VARTYPE vt, std::string_view utf8);

// A value read from the object, as one output field: Booleans "true" or
// "false", integers in decimal, text escaped, byte arrays as hexadecimal
// bytes (two upper-case digits) separated by blanks.
std::string formatValue(const Variant& value);

}  // namespace mirelo::shell
