#pragma once
// printf-style formatting and number parsing with the results the driver
// expects of its forms (%d, %s, %-30s, %.2d, %.2x, %.6x, %.3d, %.4d).
#include <cstdint>
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

// Two upper-case hex digits a byte, one blank between bytes.
std::string bytesToHex(std::string_view bytes);

}  // namespace mirelo
