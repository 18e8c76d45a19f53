#include "platform/cp1251.h"

#include <array>

namespace mirelo {
namespace {

constexpr char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Upper-case partner of each byte (identity where there is none).
struct CaseTables {
  std::array<unsigned char, 256> upper{}, lower{};
  CaseTables() {
    for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<unsigned char>(i);
    auto pair = [this](int up, int low) {
      upper[low] = static_cast<unsigned char>(up);
      lower[up] = static_cast<unsigned char>(low);
    };
    for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c) pair(c, c + 32);
    const int pairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
                            {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
                            {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
    for (auto& p : pairs) pair(p[0], p[1]);
  }
};
const CaseTables& caseTables() {
  static const CaseTables tables;
  return tables;
}

// Sort weight of a byte compared without case: Cyrillic after Latin, Ё with Е.
int sortKey(unsigned char c) {
  c = caseTables().upper[c];
  if (c == 0xA8) return (0xC5 << 1) | 1;  // Ё right after Е
  return c << 1;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point; '?' for a malformed sequence.
char32_t nextUtf8(std::string_view text, size_t& i) {
  auto b = static_cast<unsigned char>(text[i++]);
  if (b < 0x80) return b;
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + extra > text.size()) return U'?';
  char32_t cp = b & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) return U'?';
    cp = (cp << 6) | (c & 0x3F);
    ++i;
  }
  return cp;
}

char wideCharToAnsi(char32_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<char>(c - 0x0410 + 0xC0);
  for (int k = 0; k < 64; ++k)
    if (kHigh[k] == c) return static_cast<char>(0x80 + k);
  return '?';
}

}  // namespace

// Every byte's character, looked up without a branch.
constexpr std::array<char16_t, 256> kWide = [] {
  std::array<char16_t, 256> table{};
  for (int b = 0; b < 256; ++b)
    table[b] = b < 0x80    ? static_cast<char16_t>(b)
               : b >= 0xC0 ? static_cast<char16_t>(0x0410 + (b - 0xC0))
                           : kHigh[b - 0x80];
  return table;
}();

// The byte of every character below U+0460 (Latin, Latin-1 and Cyrillic),
// '?' where there is none: most text converts with one look-up a character.
constexpr size_t kNarrowRange = 0x460;
constexpr std::array<char, kNarrowRange> kNarrow = [] {
  std::array<char, kNarrowRange> table{};
  table.fill('?');
  for (int b = 0; b < 256; ++b)
    if (kWide[b] < kNarrowRange) table[kWide[b]] = static_cast<char>(b);
  return table;
}();

char16_t ansiToWide(unsigned char b) {
  return kWide[b];
}

// Both directions write into a string sized beforehand: every text crossing
// the automation boundary goes through them. The "into" forms reuse the
// target's memory, so a text set on every answer costs no allocation.
void ansiToWide(std::string_view text, std::u16string& out) {
  out.resize(text.size());
  char16_t* to = out.data();
  for (char c : text) *to++ = ansiToWide(static_cast<unsigned char>(c));
}

std::u16string ansiToWide(std::string_view text) {
  std::u16string out;
  ansiToWide(text, out);
  return out;
}

void wideToAnsi(std::u16string_view text, std::string& out) {
  out.resize(text.size());
  char* to = out.data();
  const char16_t* from = text.data();
  const char16_t* const end = from + text.size();
  while (from < end) {
    char16_t c = *from++;
    if (c < kNarrowRange) {
      *to++ = kNarrow[c];
    } else {
      // A surrogate pair is one character with no byte: one '?'.
      if (c >= 0xD800 && c <= 0xDBFF && from < end && *from >= 0xDC00 && *from <= 0xDFFF) ++from;
      *to++ = wideCharToAnsi(c);
    }
  }
  out.resize(static_cast<size_t>(to - out.data()));
}

std::string wideToAnsi(std::u16string_view text) {
  std::string out;
  wideToAnsi(text, out);
  return out;
}

std::string ansiToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) appendUtf8(out, ansiToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string utf8ToAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out += wideCharToAnsi(nextUtf8(text, i));
  return out;
}

std::u16string utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = nextUtf8(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string wideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(out, cp);
  }
  return out;
}

char ansiUpper(char c) {
  return static_cast<char>(caseTables().upper[static_cast<unsigned char>(c)]);
}
char ansiLower(char c) {
  return static_cast<char>(caseTables().lower[static_cast<unsigned char>(c)]);
}

std::string ansiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ansiUpper(c);
  return out;
}

std::string ansiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ansiLower(c);
  return out;
}

int ansiCompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int d = sortKey(static_cast<unsigned char>(a[i])) - sortKey(static_cast<unsigned char>(b[i]));
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool ansiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ansiUpper(a[i]) != ansiUpper(b[i])) return false;
  return true;
}

}  // namespace mirelo
