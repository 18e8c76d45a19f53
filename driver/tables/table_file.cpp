// The table files of TTables.
#include "driver/tables/tables.h"
#include "platform/format.h"
#include "platform/ini_file.h"

namespace mirelo {

namespace {
std::string sectionOf(int position) {
  return format("Таблица%d", position + 1);
}
std::string keyOf(int position) {
  return format("Поле%.2d", position + 1);
}

// Values that a text line cannot carry (the raw bytes of a 5- or 6-byte
// number, a zero inside a string) are written as this prefix and hex digits,
// so that a saved table loads back to the same bytes.
constexpr std::string_view kHexPrefix = "#hex:";

bool fitsALine(std::string_view value) {
  for (char c : value)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

std::string valueForFile(const TField& field) {
  std::string_view value = field.Value();
  // A string's padding zeros come back when it is encoded.
  if (field.FieldType() == ftString) {
    while (!value.empty() && value.back() == '\0') value.remove_suffix(1);
  }
  if (fitsALine(value) && !value.starts_with(kHexPrefix)) return std::string(value);
  return std::string(kHexPrefix) + bytesToHex(value, "");
}

std::string valueFromFile(const std::string& text) {
  std::string_view digits(text);
  if (!digits.starts_with(kHexPrefix)) return text;
  digits.remove_prefix(kHexPrefix.size());
  return parseHexBytes(digits).value_or(text);
}
}  // namespace

void TTables::SaveToFile(const std::string& path) const {
  IniFile file(path);
  file.Clear();
  for (int i = 0; i < Count(); ++i) {
    TFields& fields = Items(i)->Fields();
    for (int j = 0; j < fields.Count(); ++j)
      file.WriteString(sectionOf(i), keyOf(j), valueForFile(*fields.Items(j)));
  }
  file.UpdateFile();
}

void TTables::LoadFromFile(const std::string& path) {
  IniFile file(path);
  std::vector<std::string> sections = file.ReadSections();
  for (size_t i = 0; i < sections.size() && static_cast<int>(i) < Count(); ++i) {
    TFields& fields = Items(static_cast<int>(i))->Fields();
    std::vector<std::string> lines = file.ReadSection(sections[i]);
    for (size_t j = 0; j < lines.size() && static_cast<int>(j) < fields.Count(); ++j) {
      std::string key = lines[j].substr(0, lines[j].find('='));
      fields.Items(static_cast<int>(j))
          ->SetValue(valueFromFile(file.ReadString(sections[i], key, "")));
    }
  }
}

}  // namespace mirelo
