#pragma once
// printf-style formatting and number parsing with the results the driver
// expects of its forms (%d, %s, %-30s, %.2d, %.2x, %.6x, %.3d, %.4d); the hex
// text of bytes and the trimming of text, for every layer above.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirelo {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// Decimal (optionally signed) or hexadecimal with a leading '$' or "0x";
// surrounding blanks are allowed. Anything else raises EConvertError
// "'%s' is not a valid integer value".
int32_t strToInt(std::string_view text);
bool tryStrToInt(std::string_view text, int32_t& value);
// The same with a fallback instead of an exception.
int32_t strToIntDef(std::string_view text, int32_t fallback);

// Two upper-case hex digits a byte, the separator between bytes: "0A FF" for
// frames in logs and journals, "0A-FF" for a MAC address, "0AFF" with "".
std::string bytesToHex(std::string_view bytes, std::string_view separator = " ");
// The upper-case digit of a value 0 to 15.
char hexDigit(unsigned value);
enum class HexCase { Any, Upper };
// The value of a hexadecimal digit, or -1.
int hexDigitValue(char c, HexCase accepted = HexCase::Any);
// The driver's lenient rule for hex text typed by a host: "0"-"9" and
// upper-case "A"-"F" are digits, everything else separates; two digits make
// a byte, a lone digit a byte of its own value, a third digit starts a new one.
std::string hexTextToBytes(std::string_view text);
// The strict rule: pairs of digits of either case, each two pairs parted by
// exactly one character of `separators` (by nothing when it is empty).
// Empty for anything else.
std::optional<std::string> parseHexBytes(std::string_view text, std::string_view separators = {});

bool isBlank(char c);  // blank or tab
// Blanks and tabs off both ends.
std::string_view trimBlanks(std::string_view text);
// Blanks and control characters (bytes up to 0x20) off both ends; Cyrillic
// letters are bytes above 0x7F and stay.
std::string_view trimBlanksAndControls(std::string_view text);

}  // namespace mirelo
