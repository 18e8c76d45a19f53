#pragma once
// The responder's price list: rows of a code and the two lines a terminal
// shows for it, all Windows-1251 bytes, in the order the operator keeps them.
// The window's grid and the headless service both work on this one model.
//
// Lookups go through an index from code to the rows that carry it, kept in
// step with every edit, so a list of a million rows answers as fast as a list
// of ten. Every row has an identifier that grows with its position (rows
// keep their relative order through every edit), so the first of several rows
// with one code is the one with the smallest identifier.
//
// File format: one line per row, "code;line 1;line 2;" and CR LF; on reading
// CR, LF or CR LF end a line, every ';' separates, the fourth and later
// fields are ignored and missing ones are empty. There is no quoting: a ';'
// inside a cell becomes a separator when the file is read back.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mirelo {

struct TPriceRow {
  std::string Code;
  std::string Line1;
  std::string Line2;
  bool operator==(const TPriceRow&) const = default;
};

// The grid's three columns, left to right.
enum TPriceColumn : int { pcCode = 0, pcLine1 = 1, pcLine2 = 2 };
inline constexpr int kPriceColumnCount = 3;

class TPriceList {
 public:
  // Files are read whole; larger ones, or ones with more lines, are refused.
  static constexpr int64_t kMaxFileSize = 256ll * 1024 * 1024;
  static constexpr size_t kMaxRows = 5'000'000;

  TPriceList() = default;
  explicit TPriceList(std::vector<TPriceRow> rows) { Assign(std::move(rows)); }

  size_t Count() const { return rows_.size(); }
  const TPriceRow& Rows(size_t row) const { return rows_.at(row); }
  const std::string& Cell(size_t row, int column) const;

  // Edits; row indexes are 0-based and raise std::out_of_range when outside.
  void SetCell(size_t row, int column, std::string value);
  void SetRow(size_t row, TPriceRow value);
  void Append(TPriceRow row = {});
  void Insert(size_t at, TPriceRow row);  // at == Count() appends
  void Delete(size_t row);
  // The list becomes emptyRows empty rows.
  void Reset(size_t emptyRows);
  void Assign(std::vector<TPriceRow> rows);

  // The first row whose code equals code byte for byte, or none.
  std::optional<size_t> Find(std::string_view code) const;
  // How many rows carry the code (the index's own count).
  size_t CountOf(std::string_view code) const;

  // Replaces the list with the file's rows. Raises EFileError for a file that
  // cannot be opened or read, is not a regular file, or is too large; the
  // list is then unchanged.
  void LoadFromFile(const std::string& path);
  // Writes every row; the file is replaced atomically. Raises EFileError; the
  // old file is then intact.
  void SaveToFile(const std::string& path) const;

  static std::vector<TPriceRow> ParseText(std::string_view text, size_t maxRows = kMaxRows);
  static std::string FormatText(const std::vector<TPriceRow>& rows);
  std::string FormatText() const { return FormatText(rows_); }

 private:
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  // The identifiers of the rows with one code, ascending; most codes have one.
  struct Group {
    uint64_t first = 0;
    std::vector<uint64_t> rest;
  };
  using Index = std::unordered_map<std::string, Group, StringHash, std::equal_to<>>;

  size_t positionOf(uint64_t id) const;
  void indexAdd(const std::string& code, uint64_t id);
  void indexRemove(const std::string& code, uint64_t id);
  void rebuild();  // new identifiers in order, and the index from scratch
  void checkRow(size_t row) const;

  std::vector<TPriceRow> rows_;
  std::vector<uint64_t> ids_;  // parallel to rows_, strictly ascending
  Index index_;
};

// The barcode of a terminal message: everything before its first byte below
// 0x20 (CR and LF end it, blanks stay).
std::string_view cutBarcode(std::string_view data);

struct TNotFoundLines {
  static constexpr const char* kDefault = "Not found";
  std::string Line1 = kDefault;
  std::string Line2 = kDefault;
  bool operator==(const TNotFoundLines&) const = default;
};

// What a terminal's display shows of a line; the answer frame holds no more.
inline constexpr size_t kTerminalLineWidth = 30;

struct TPriceAnswer {
  std::string Barcode;  // as cut
  bool Found = false;
  size_t Row = 0;  // 0-based, when found
  // At most kTerminalLineWidth bytes of each: a row's lines stay whole in the
  // list, but an answer copies (and a log shows) only what a terminal shows.
  std::string Line1, Line2;
};

// The answer to a terminal message: the first row with the cut barcode as its
// code, else the not-found lines.
TPriceAnswer answerFor(const TPriceList& list, const TNotFoundLines& notFound, std::string_view data);

}  // namespace mirelo
