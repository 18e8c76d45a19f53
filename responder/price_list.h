#pragma once
// The responder's price list: rows of a code and the two lines a terminal
// shows for it, all Windows-1251 bytes, in the order the operator keeps them.
// The window's grid and the headless service both work on this one model.
//
// The rows' bytes lie one after another in one store, and an open-addressing
// table maps each code to the first row that carries it: a list of a million
// rows answers as fast as a list of ten, costs little more memory than its
// file, and loads without a string per cell. Edits are the window's: they
// keep the table in step row by row.
//
// Whenever the table is built, the store is laid out anew in the order of
// its slots, and each group of 32 slots notes where its rows' bytes begin: a
// lookup then fetches the row's bytes while it waits for the slot, instead
// of after it. Rows edited since are found all the same, a little slower.
//
// File format: one line per row, "code;line 1;line 2;" and CR LF; on reading
// CR, LF or CR LF end a line, every ';' separates, the fourth and later
// fields are ignored and missing ones are empty. There is no quoting: a ';'
// inside a cell becomes a separator when the file is read back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirelo {

// Memory for the list's large arrays: blocks of 4 MiB and more are mapped on
// their own and asked for in huge pages, so that a lookup's few random
// accesses do not each miss the TLB as well as the cache.
void* allocateLarge(size_t bytes);
void freeLarge(void* block, size_t bytes);

template <class T>
struct TLargeAllocator {
  using value_type = T;
  TLargeAllocator() = default;
  template <class U>
  TLargeAllocator(const TLargeAllocator<U>&) {}
  T* allocate(size_t count) { return static_cast<T*>(allocateLarge(count * sizeof(T))); }
  void deallocate(T* block, size_t count) { freeLarge(block, count * sizeof(T)); }
  bool operator==(const TLargeAllocator&) const { return true; }
};

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
  TPriceList(const TPriceList&) = default;
  TPriceList(TPriceList&&) noexcept = default;
  TPriceList& operator=(const TPriceList&) = default;
  // Swaps: the old rows' memory goes with the other list (a moved string
  // that fits in itself would keep this one's store allocated).
  TPriceList& operator=(TPriceList&& other) noexcept;

  size_t Count() const { return rows_.size(); }
  TPriceRow Rows(size_t row) const;
  std::string Cell(size_t row, int column) const { return std::string(CellView(row, column)); }
  // Valid until the next edit or load.
  std::string_view CellView(size_t row, int column) const;

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
  // The same with the row's lines, read through the table alone.
  struct THit {
    size_t Row;
    std::string_view Line1, Line2;  // valid until the next edit or load
  };
  std::optional<THit> Lookup(std::string_view code) const;
  // How many rows carry the code.
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
  std::string FormatText() const;

 private:
  // A row: its three cells lie one after another in store_ from offset on.
  struct Row {
    uint32_t offset = 0;
    uint32_t sizes[kPriceColumnCount] = {};
  };

  std::string_view cell(const Row& row, int column) const;
  std::string_view code(size_t row) const { return cell(rows_[row], pcCode); }
  void checkRow(size_t row) const;
  Row store(std::string_view code, std::string_view line1, std::string_view line2);
  void release(const Row& row);
  void compactIfWasteful();
  using Bytes = std::basic_string<char, std::char_traits<char>, TLargeAllocator<char>>;
  void assignText(Bytes text);

  // An entry of the table: the first row with a code, where its bytes are
  // and how long its cells are, so that a lookup needs no row record.
  static constexpr uint16_t kWideCell = UINT16_MAX;  // or longer: the record has it
  struct Slot {
    uint32_t row1 = 0;  // the row + 1; 0: a free slot
    uint32_t offset = 0;
    uint16_t tag = 0;  // the hash's upper bits
    uint16_t sizes[kPriceColumnCount] = {};
  };
  // 32 slots to an anchor: the anchors of a million rows (256 KiB) stay in
  // the cache; more slots would mean more bytes to fetch around a guess.
  static constexpr int kAnchorShift = 5;
  static uint64_t hashOf(std::string_view code);
  Slot slotFor(size_t row, uint16_t tag) const;
  size_t slotOf(std::string_view code, uint64_t hash) const;
  const Slot* lookup(std::string_view code) const;
  // Builds the table and lays the store out in its order.
  void rebuildIndex();
  void layOut();
  void indexFirst(size_t row);
  void indexForget(size_t row);
  void shiftRows(size_t from, int by);

  Bytes store_;       // the cells' bytes
  size_t waste_ = 0;  // bytes in store_ that no row uses any more
  std::vector<Row, TLargeAllocator<Row>> rows_;
  std::vector<Slot, TLargeAllocator<Slot>> slots_;  // a power of two, at most half used
  // Where the rows of each group of slots began in store_ when it was laid
  // out, and its end.
  std::vector<uint32_t, TLargeAllocator<uint32_t>> anchors_;
  size_t used_ = 0;
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
TPriceAnswer answerFor(const TPriceList& list, const TNotFoundLines& notFound,
                       std::string_view data);
// The same into answer, reusing its memory: a responder answering scans
// one after another allocates nothing for them.
void answerFor(const TPriceList& list, const TNotFoundLines& notFound, std::string_view data,
               TPriceAnswer& answer);

}  // namespace mirelo
