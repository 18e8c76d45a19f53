#include "responder/price_list.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/atomic_file.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

constexpr size_t kLargeBlock = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

size_t mappedSize(size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateLarge(size_t bytes) {
  if (bytes < kLargeBlock) return ::operator new(bytes);
  // Mapped with a huge page of room, then trimmed to a huge-page boundary.
  size_t size = mappedSize(bytes);
  void* mapped =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(mapped, aligned - start);
  if (size_t tail = start + size + kHugePage - (aligned + size); tail > 0)
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint: fine if refused
  return reinterpret_cast<void*>(aligned);
}

void freeLarge(void* block, size_t bytes) {
  if (bytes < kLargeBlock)
    ::operator delete(block);
  else
    munmap(block, mappedSize(bytes));
}

namespace {

[[noreturn]] void badColumn(int column) {
  throw std::out_of_range(format("price list column %d", column));
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void raiseReadError(const std::string& name, int error) {
  throw EFileError(
      format("Не удалось прочитать файл '%s': %s", name.c_str(), std::strerror(error)));
}

// path: UTF-8 as the file system has it; messages name it in Windows-1251.
template <class Text>
Text readPriceFile(const std::string& path) {
  const std::string name = utf8ToAnsi(path);
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) raiseReadError(name, errno);
  struct stat info {};
  if (fstat(file.get(), &info) != 0) raiseReadError(name, errno);
  if (!S_ISREG(info.st_mode))
    throw EFileError(format("'%s' не является обычным файлом", name.c_str()));
  if (info.st_size > TPriceList::kMaxFileSize)
    throw EFileError(format("Файл '%s' слишком велик: %lld байт, допускается не более %lld",
                            name.c_str(), static_cast<long long>(info.st_size),
                            static_cast<long long>(TPriceList::kMaxFileSize)));
  Text text;
  text.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseReadError(name, errno);
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    // A file that grows while it is read is still bounded.
    if (static_cast<int64_t>(text.size()) > TPriceList::kMaxFileSize)
      throw EFileError(format("Файл '%s' слишком велик: допускается не более %lld байт",
                              name.c_str(), static_cast<long long>(TPriceList::kMaxFileSize)));
  }
  return text;
}

// Calls add(cells) for every line of text with its first three fields,
// the missing ones empty.
template <class Add>
void forEachLine(std::string_view text, size_t maxRows, Add&& add) {
  size_t count = 0;
  auto line = [&](std::string_view rest) {
    if (count++ >= maxRows)
      throw EFileError(format("В списке больше %zu строк: такой файл не загружается", maxRows));
    std::string_view cells[kPriceColumnCount];
    for (int field = 0; field < kPriceColumnCount; ++field) {
      size_t end = rest.find(';');
      cells[field] = rest.substr(0, end);
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    add(cells);
  };
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    line(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) line(text.substr(start));
}

constexpr size_t kMaxStore = UINT32_MAX;

}  // namespace

// ---- rows and edits ----

TPriceList& TPriceList::operator=(TPriceList&& other) noexcept {
  store_.swap(other.store_);
  std::swap(waste_, other.waste_);
  rows_.swap(other.rows_);
  slots_.swap(other.slots_);
  anchors_.swap(other.anchors_);
  std::swap(used_, other.used_);
  return *this;
}

void TPriceList::checkRow(size_t row) const {
  if (row >= rows_.size())
    throw std::out_of_range(format("price list row %zu of %zu", row, rows_.size()));
}

std::string_view TPriceList::cell(const Row& row, int column) const {
  size_t size = row.sizes[column];
  if (size == 0) return {};
  size_t start = row.offset;
  for (int k = 0; k < column; ++k) start += row.sizes[k] + 1;  // each cell ends with a ';'
  return std::string_view(store_).substr(start, size);
}

std::string_view TPriceList::CellView(size_t row, int column) const {
  checkRow(row);
  if (column < 0 || column >= kPriceColumnCount) badColumn(column);
  return cell(rows_[row], column);
}

TPriceRow TPriceList::Rows(size_t row) const {
  checkRow(row);
  const Row& r = rows_[row];
  return {std::string(cell(r, pcCode)), std::string(cell(r, pcLine1)),
          std::string(cell(r, pcLine2))};
}

// A row's form in a store: its cells one after another, a ';' between them.
template <class Text>
static void appendCells(Text& to, std::string_view code, std::string_view line1,
                        std::string_view line2) {
  to.append(code).append(1, ';').append(line1).append(1, ';').append(line2);
}

TPriceList::Row TPriceList::store(std::string_view code, std::string_view line1,
                                  std::string_view line2) {
  size_t size = code.size() + line1.size() + line2.size() + 2;
  if (store_.size() + size > kMaxStore) {
    waste_ = store_.size();  // forces the compaction
    compactIfWasteful();
    if (store_.size() + size > kMaxStore) throw std::length_error("price list above 4 GiB");
  }
  Row row;
  row.offset = static_cast<uint32_t>(store_.size());
  row.sizes[pcCode] = static_cast<uint32_t>(code.size());
  row.sizes[pcLine1] = static_cast<uint32_t>(line1.size());
  row.sizes[pcLine2] = static_cast<uint32_t>(line2.size());
  appendCells(store_, code, line1, line2);
  return row;
}

void TPriceList::release(const Row& row) {
  waste_ += row.sizes[pcCode] + row.sizes[pcLine1] + row.sizes[pcLine2] + 2;
}

// Edits leave their old cells behind: once they are most of the store, the
// rows move into a new one.
void TPriceList::compactIfWasteful() {
  if (waste_ < (size_t{1} << 20) || waste_ < store_.size() / 2) return;
  rebuildIndex();
}

void TPriceList::SetCell(size_t row, int column, std::string value) {
  checkRow(row);
  if (column < 0 || column >= kPriceColumnCount) badColumn(column);
  TPriceRow changed = Rows(row);
  std::string* cells[kPriceColumnCount] = {&changed.Code, &changed.Line1, &changed.Line2};
  *cells[column] = std::move(value);
  SetRow(row, std::move(changed));
}

void TPriceList::SetRow(size_t row, TPriceRow value) {
  checkRow(row);
  Row stored = store(value.Code, value.Line1, value.Line2);
  if (code(row) == value.Code) {
    // The same code: if the row answers for it, its slot follows the cells.
    Slot& slot = slots_[slotOf(value.Code, hashOf(value.Code))];
    release(rows_[row]);
    rows_[row] = stored;
    if (slot.row1 == row + 1) slot = slotFor(row, slot.tag);
  } else {
    indexForget(row);
    release(rows_[row]);
    rows_[row] = stored;
    indexFirst(row);
  }
  compactIfWasteful();
}

void TPriceList::Append(TPriceRow row) {
  Insert(rows_.size(), std::move(row));
}

void TPriceList::Insert(size_t at, TPriceRow row) {
  if (at > rows_.size())
    throw std::out_of_range(format("price list insert at %zu of %zu", at, rows_.size()));
  Row stored = store(row.Code, row.Line1, row.Line2);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), stored);
  if (at + 1 < rows_.size()) shiftRows(at, 1);
  indexFirst(at);
}

void TPriceList::Delete(size_t row) {
  checkRow(row);
  indexForget(row);
  if (row + 1 < rows_.size()) shiftRows(row + 1, -1);
  release(rows_[row]);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  compactIfWasteful();
}

void TPriceList::Reset(size_t emptyRows) {
  Assign(std::vector<TPriceRow>(emptyRows));
}

void TPriceList::Assign(std::vector<TPriceRow> rows) {
  TPriceList list;
  size_t size = 0;
  for (const TPriceRow& row : rows)
    size += row.Code.size() + row.Line1.size() + row.Line2.size() + 2;
  if (size > kMaxStore) throw std::length_error("price list above 4 GiB");
  list.store_.reserve(size);
  list.rows_.reserve(rows.size());
  for (const TPriceRow& row : rows)
    list.rows_.push_back(list.store(row.Code, row.Line1, row.Line2));
  // The strings go before the layout copies the store again: less memory at
  // the peak, and no block of the layout's above them in the heap, where it
  // would keep the heap from shrinking once they are freed.
  std::vector<TPriceRow>().swap(rows);
  list.rebuildIndex();
  *this = std::move(list);
}

// The rows point into the file's text where the parser found their cells;
// the index then moves them into a store of its own order.
void TPriceList::assignText(Bytes text) {
  TPriceList list;
  list.rows_.reserve(text.size() / 40 + 1);
  forEachLine(text, kMaxRows, [&](const std::string_view(&cells)[kPriceColumnCount]) {
    Row row;
    row.offset = static_cast<uint32_t>(cells[pcCode].data() - text.data());
    for (int k = 0; k < kPriceColumnCount; ++k)
      row.sizes[k] = static_cast<uint32_t>(cells[k].size());
    list.rows_.push_back(row);
  });
  list.rows_.shrink_to_fit();
  list.store_ = std::move(text);
  list.rebuildIndex();
  *this = std::move(list);
}

// ---- index ----

uint64_t TPriceList::hashOf(std::string_view code) {
  return std::hash<std::string_view>{}(code);
}

TPriceList::Slot TPriceList::slotFor(size_t row, uint16_t tag) const {
  Slot slot;
  slot.row1 = static_cast<uint32_t>(row + 1);
  slot.offset = rows_[row].offset;
  slot.tag = tag;
  for (int k = 0; k < kPriceColumnCount; ++k)
    slot.sizes[k] = static_cast<uint16_t>(std::min<uint32_t>(rows_[row].sizes[k], kWideCell));
  return slot;
}

namespace {

uint16_t tagOf(uint64_t hash) {
  return static_cast<uint16_t>(hash >> 48);
}

// A hint that may reach past the store's end: the address is only computed.
void prefetch(const char* start, int lines) {
  auto address = reinterpret_cast<uintptr_t>(start);
  for (int k = 0; k < lines; ++k)
    __builtin_prefetch(reinterpret_cast<const void*>(address + uintptr_t{64} * k));
}

}  // namespace

// The slot that holds the code, or the free slot where it would go.
size_t TPriceList::slotOf(std::string_view code, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint16_t tag = tagOf(hash);
  const auto size = static_cast<uint16_t>(std::min<size_t>(code.size(), kWideCell));
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.row1 == 0) return i;
    if (slot.tag != tag || slot.sizes[pcCode] != size) continue;
    const char* bytes = store_.data() + slot.offset;
    // Most likely the row: the lines after its code are fetched while the
    // code is compared.
    prefetch(bytes + 64, 1);
    std::string_view stored = slot.sizes[pcCode] == kWideCell
                                  ? cell(rows_[slot.row1 - 1], pcCode)
                                  : std::string_view(bytes, slot.sizes[pcCode]);
    if (stored == code) return i;
  }
}

// The slot of the first row with the code, or none.
const TPriceList::Slot* TPriceList::lookup(std::string_view code) const {
  if (slots_.empty()) return nullptr;
  uint64_t hash = hashOf(code);
  // Where the row's bytes most likely are, between the anchors of the group
  // of slots its search begins in: fetched now, they are there by the time
  // its slot arrives.
  const size_t home = hash & (slots_.size() - 1), group = home >> kAnchorShift;
  const size_t first = anchors_[group], next = anchors_[group + 1];
  const size_t within = home & ((size_t{1} << kAnchorShift) - 1);
  size_t guess = std::min(first + ((within * (next - first)) >> kAnchorShift), store_.size());
  guess -= std::min<size_t>(guess, 128);
  prefetch(store_.data() + guess, 6);
  const Slot& slot = slots_[slotOf(code, hash)];
  return slot.row1 == 0 ? nullptr : &slot;
}

void TPriceList::rebuildIndex() {
  size_t capacity = 16;
  while (capacity < rows_.size() * 2) capacity *= 2;
  slots_.assign(capacity, Slot{});
  used_ = 0;
  for (size_t row = 0; row < rows_.size(); ++row) {
    uint64_t hash = hashOf(code(row));
    size_t at = slotOf(code(row), hash);
    if (slots_[at].row1 != 0) continue;  // an earlier row has the code
    slots_[at] = slotFor(row, tagOf(hash));
    ++used_;
  }
  layOut();
}

// The rows that answer go in the order of their slots, the others after
// them; what edits left behind goes with the old store.
void TPriceList::layOut() {
  size_t size = 0;
  for (const Row& row : rows_)
    size += row.sizes[pcCode] + row.sizes[pcLine1] + row.sizes[pcLine2] + 2;
  Bytes laid;
  laid.reserve(size);
  auto move = [&](Row& row) {
    auto offset = static_cast<uint32_t>(laid.size());
    appendCells(laid, cell(row, pcCode), cell(row, pcLine1), cell(row, pcLine2));
    row.offset = offset;
  };
  std::vector<bool> moved(rows_.size());
  // One anchor per group of slots (a small table is one group) and the end.
  const size_t groups = (slots_.size() + (size_t{1} << kAnchorShift) - 1) >> kAnchorShift;
  anchors_.assign(groups + 1, 0);
  // The rows are read in a random order: their records and bytes are asked
  // for some slots ahead, so that many of the reads wait together.
  constexpr size_t kAhead = 16;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (i + kAhead < slots_.size() && slots_[i + kAhead].row1 != 0) {
      const Slot& next = slots_[i + kAhead];
      __builtin_prefetch(&rows_[next.row1 - 1], 1);
      prefetch(store_.data() + next.offset, 2);
    }
    if (i % (size_t{1} << kAnchorShift) == 0)
      anchors_[i >> kAnchorShift] = static_cast<uint32_t>(laid.size());
    Slot& slot = slots_[i];
    if (slot.row1 == 0) continue;
    move(rows_[slot.row1 - 1]);
    moved[slot.row1 - 1] = true;
    slot.offset = rows_[slot.row1 - 1].offset;
  }
  anchors_.back() = static_cast<uint32_t>(laid.size());
  for (size_t row = 0; row < rows_.size(); ++row)
    if (!moved[row]) move(rows_[row]);
  store_.swap(laid);
  waste_ = 0;
}

// Row row (in place already) answers for its code unless a row above does;
// when it does, its slot follows where its bytes are now.
void TPriceList::indexFirst(size_t row) {
  if ((used_ + 1) * 2 > slots_.size()) {
    rebuildIndex();
    return;
  }
  uint64_t hash = hashOf(code(row));
  size_t at = slotOf(code(row), hash);
  if (slots_[at].row1 == 0) {
    ++used_;
  } else if (slots_[at].row1 - 1 < row) {
    return;
  }
  slots_[at] = slotFor(row, tagOf(hash));
}

// Row row (still in place) stops answering for its code: the next row with
// that code does, if there is one.
void TPriceList::indexForget(size_t row) {
  if (slots_.empty()) return;
  std::string_view gone = code(row);
  size_t at = slotOf(gone, hashOf(gone));
  if (slots_[at].row1 == 0 || slots_[at].row1 - 1 != row) return;
  for (size_t next = row + 1; next < rows_.size(); ++next) {
    if (code(next) == gone) {
      slots_[at] = slotFor(next, slots_[at].tag);
      return;
    }
  }
  // Backward shift: the entries after the freed slot that may move closer to
  // their home do, so that no search stops early at a hole.
  const size_t mask = slots_.size() - 1;
  size_t hole = at;
  for (size_t i = (hole + 1) & mask; slots_[i].row1 != 0; i = (i + 1) & mask) {
    size_t home = hashOf(code(slots_[i].row1 - 1)) & mask;
    bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
    if (stays) continue;
    slots_[hole] = slots_[i];
    hole = i;
  }
  slots_[hole] = Slot{};
  --used_;
}

// The rows from from on (numbered as before the edit) moved by one.
void TPriceList::shiftRows(size_t from, int by) {
  for (Slot& slot : slots_)
    if (slot.row1 != 0 && slot.row1 - 1 >= from)
      slot.row1 = static_cast<uint32_t>(static_cast<int64_t>(slot.row1) + by);
}

std::optional<size_t> TPriceList::Find(std::string_view code) const {
  const Slot* slot = lookup(code);
  if (slot == nullptr) return std::nullopt;
  return slot->row1 - 1;
}

std::optional<TPriceList::THit> TPriceList::Lookup(std::string_view code) const {
  const Slot* slot = lookup(code);
  if (slot == nullptr) return std::nullopt;
  const size_t row = slot->row1 - 1;
  const uint16_t* sizes = slot->sizes;
  if (sizes[pcCode] == kWideCell || sizes[pcLine1] == kWideCell || sizes[pcLine2] == kWideCell)
    return THit{row, cell(rows_[row], pcLine1), cell(rows_[row], pcLine2)};
  // The cells follow one another, each after a ';'.
  const char* line1 = store_.data() + slot->offset + sizes[pcCode] + 1;
  return THit{row, std::string_view(line1, sizes[pcLine1]),
              std::string_view(line1 + sizes[pcLine1] + 1, sizes[pcLine2])};
}

size_t TPriceList::CountOf(std::string_view code) const {
  size_t count = 0;
  for (size_t row = 0; row < rows_.size(); ++row) count += this->code(row) == code;
  return count;
}

// ---- files ----

std::vector<TPriceRow> TPriceList::ParseText(std::string_view text, size_t maxRows) {
  std::vector<TPriceRow> rows;
  forEachLine(text, maxRows, [&](const std::string_view(&cells)[kPriceColumnCount]) {
    rows.push_back(
        {std::string(cells[pcCode]), std::string(cells[pcLine1]), std::string(cells[pcLine2])});
  });
  return rows;
}

std::string TPriceList::FormatText(const std::vector<TPriceRow>& rows) {
  size_t size = 0;
  for (const TPriceRow& row : rows)
    size += row.Code.size() + row.Line1.size() + row.Line2.size() + 5;
  std::string text;
  text.reserve(size);
  for (const TPriceRow& row : rows) {
    text += row.Code;
    text += ';';
    text += row.Line1;
    text += ';';
    text += row.Line2;
    text += ";\r\n";
  }
  return text;
}

std::string TPriceList::FormatText() const {
  std::string text;
  text.reserve(store_.size() - waste_ + rows_.size() * 3);
  for (const Row& row : rows_) {
    text.append(cell(row, pcCode)).append(1, ';');
    text.append(cell(row, pcLine1)).append(1, ';');
    text.append(cell(row, pcLine2)).append(";\r\n");
  }
  return text;
}

void TPriceList::LoadFromFile(const std::string& path) {
  try {
    assignText(readPriceFile<Bytes>(path));
  } catch (const EFileError& e) {
    std::string message = e.what();
    std::string name = utf8ToAnsi(path);
    // The parser does not know the file's name.
    if (message.find(name) == std::string::npos)
      message = format("Файл '%s': %s", name.c_str(), message.c_str());
    throw EFileError(message);
  }
}

// A new file is its owner's alone, like the rest of the responder's files.
void TPriceList::SaveToFile(const std::string& path) const {
  writeFileAtomically(path, FormatText(), FileAccess::OwnerOnly);
}

// ---- answers ----

std::string_view cutBarcode(std::string_view data) {
  for (size_t i = 0; i < data.size(); ++i)
    if (static_cast<unsigned char>(data[i]) < 0x20) return data.substr(0, i);
  return data;
}

void answerFor(const TPriceList& list, const TNotFoundLines& notFound, std::string_view data,
               TPriceAnswer& answer) {
  answer.Barcode.assign(cutBarcode(data));
  std::string_view line1 = notFound.Line1, line2 = notFound.Line2;
  answer.Found = false;
  answer.Row = 0;
  if (std::optional<TPriceList::THit> hit = list.Lookup(answer.Barcode)) {
    answer.Found = true;
    answer.Row = hit->Row;
    line1 = hit->Line1;
    line2 = hit->Line2;
  }
  answer.Line1.assign(line1.substr(0, kTerminalLineWidth));
  answer.Line2.assign(line2.substr(0, kTerminalLineWidth));
}

TPriceAnswer answerFor(const TPriceList& list, const TNotFoundLines& notFound,
                       std::string_view data) {
  TPriceAnswer answer;
  answerFor(list, notFound, data, answer);
  return answer;
}

}  // namespace mirelo
