#pragma once
// INI profile files as Windows reads and writes them, for the programs'
// settings: section and key names compare case-insensitively (Windows-1251
// letters, Cyrillic included), the first matching section is the one used and
// within it the first matching key, blanks around names and values do not
// count, and a value in matching quotes loses them. Text is Windows-1251.
//
// The file is read once, when the object is made; writes change the text in
// memory (keeping every other line, comments included) until UpdateFile
// replaces the file as a whole.
#include <string>
#include <string_view>
#include <vector>

namespace mirelo {

class IniFile {
 public:
  // A file that is missing, unreadable or not a regular file reads as empty,
  // as the profile functions treat it.
  explicit IniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  // The value, or defaultValue when the section or the key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // The section names in file order, each once.
  std::vector<std::string> ReadSections() const;
  // The lines of the first section of that name in file order, blanks around
  // them removed; comments and empty lines are left out.
  std::vector<std::string> ReadSection(std::string_view section) const;
  // Forgets every line: the next UpdateFile writes only what is written after.
  void Clear() { lines_.clear(); }

  // Sets the value in the first matching section, adding the key at the end
  // of that section or the section at the end of the file when missing. A
  // value with blanks at either end, or in quotes, is written quoted so that
  // it reads back exactly. Names or values that would break the line
  // structure (line ends; '=' or a leading '[' or ';' in a key; ']' in a
  // section) raise Exception.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Writes the text to the file atomically (lines end with CR LF). Raises
  // EFileError; the old file is then intact.
  void UpdateFile() const;

  // The whole text as UpdateFile would write it.
  std::string Text() const;

 private:
  // Index of the first line of the first section with that name, or npos.
  size_t findSection(std::string_view section) const;
  // Index of the key's line within the section that starts at sectionLine.
  size_t findKey(size_t sectionLine, std::string_view key) const;

  std::string fileName_;
  std::vector<std::string> lines_;
};

}  // namespace mirelo
