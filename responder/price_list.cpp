#include "responder/price_list.h"

#include <fcntl.h>
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

// Room between identifiers, so that a row inserted between two others
// usually finds a free number without renumbering the list.
constexpr uint64_t kIdSpacing = uint64_t{1} << 20;

std::string& cellOf(TPriceRow& row, int column) {
  switch (column) {
    case pcCode: return row.Code;
    case pcLine1: return row.Line1;
    case pcLine2: return row.Line2;
  }
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
  throw EFileError(format("Не удалось прочитать файл '%s': %s", name.c_str(), std::strerror(error)));
}

// path: UTF-8 as the file system has it; messages name it in Windows-1251.
std::string readPriceFile(const std::string& path) {
  const std::string name = utf8ToAnsi(path);
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) raiseReadError(name, errno);
  struct stat info {};
  if (fstat(file.get(), &info) != 0) raiseReadError(name, errno);
  if (!S_ISREG(info.st_mode)) throw EFileError(format("'%s' не является обычным файлом", name.c_str()));
  if (info.st_size > TPriceList::kMaxFileSize)
    throw EFileError(format("Файл '%s' слишком велик: %lld байт, допускается не более %lld", name.c_str(),
                            static_cast<long long>(info.st_size),
                            static_cast<long long>(TPriceList::kMaxFileSize)));
  std::string text;
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
      throw EFileError(format("Файл '%s' слишком велик: допускается не более %lld байт", name.c_str(),
                              static_cast<long long>(TPriceList::kMaxFileSize)));
  }
  return text;
}

}  // namespace

// ---- rows and edits ----

void TPriceList::checkRow(size_t row) const {
  if (row >= rows_.size())
    throw std::out_of_range(format("price list row %zu of %zu", row, rows_.size()));
}

const std::string& TPriceList::Cell(size_t row, int column) const {
  checkRow(row);
  return cellOf(const_cast<TPriceRow&>(rows_[row]), column);
}

void TPriceList::SetCell(size_t row, int column, std::string value) {
  checkRow(row);
  std::string& cell = cellOf(rows_[row], column);
  if (column == pcCode && cell != value) {
    indexRemove(cell, ids_[row]);
    indexAdd(value, ids_[row]);
  }
  cell = std::move(value);
}

void TPriceList::SetRow(size_t row, TPriceRow value) {
  checkRow(row);
  if (rows_[row].Code != value.Code) {
    indexRemove(rows_[row].Code, ids_[row]);
    indexAdd(value.Code, ids_[row]);
  }
  rows_[row] = std::move(value);
}

void TPriceList::Append(TPriceRow row) { Insert(rows_.size(), std::move(row)); }

void TPriceList::Insert(size_t at, TPriceRow row) {
  if (at > rows_.size()) throw std::out_of_range(format("price list insert at %zu of %zu", at, rows_.size()));
  uint64_t before = at == 0 ? 0 : ids_[at - 1];
  uint64_t id;
  if (at == rows_.size()) {
    id = before + kIdSpacing;
  } else if (ids_[at] - before > 1) {
    id = before + (ids_[at] - before) / 2;
  } else {
    // No free number between the neighbours: renumber everything.
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    ids_.insert(ids_.begin() + static_cast<std::ptrdiff_t>(at), 0);
    rebuild();
    return;
  }
  indexAdd(row.Code, id);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
  ids_.insert(ids_.begin() + static_cast<std::ptrdiff_t>(at), id);
}

void TPriceList::Delete(size_t row) {
  checkRow(row);
  indexRemove(rows_[row].Code, ids_[row]);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(row));
}

void TPriceList::Reset(size_t emptyRows) { Assign(std::vector<TPriceRow>(emptyRows)); }

void TPriceList::Assign(std::vector<TPriceRow> rows) {
  rows_ = std::move(rows);
  rebuild();
}

// ---- index ----

void TPriceList::rebuild() {
  index_.clear();
  ids_.resize(rows_.size());
  index_.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    ids_[i] = (i + 1) * kIdSpacing;
    indexAdd(rows_[i].Code, ids_[i]);
  }
}

void TPriceList::indexAdd(const std::string& code, uint64_t id) {
  auto [it, added] = index_.try_emplace(code);
  Group& group = it->second;
  if (added) {
    group.first = id;
  } else if (id < group.first) {
    group.rest.insert(group.rest.begin(), group.first);
    group.first = id;
  } else {
    group.rest.insert(std::upper_bound(group.rest.begin(), group.rest.end(), id), id);
  }
}

void TPriceList::indexRemove(const std::string& code, uint64_t id) {
  auto it = index_.find(code);
  if (it == index_.end()) return;
  Group& group = it->second;
  if (group.first == id) {
    if (group.rest.empty()) {
      index_.erase(it);
      return;
    }
    group.first = group.rest.front();
    group.rest.erase(group.rest.begin());
    return;
  }
  auto at = std::lower_bound(group.rest.begin(), group.rest.end(), id);
  if (at != group.rest.end() && *at == id) group.rest.erase(at);
}

size_t TPriceList::positionOf(uint64_t id) const {
  return static_cast<size_t>(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin());
}

std::optional<size_t> TPriceList::Find(std::string_view code) const {
  auto it = index_.find(code);
  if (it == index_.end()) return std::nullopt;
  return positionOf(it->second.first);
}

size_t TPriceList::CountOf(std::string_view code) const {
  auto it = index_.find(code);
  return it == index_.end() ? 0 : 1 + it->second.rest.size();
}

// ---- files ----

std::vector<TPriceRow> TPriceList::ParseText(std::string_view text, size_t maxRows) {
  std::vector<TPriceRow> rows;
  size_t start = 0;
  auto addLine = [&](std::string_view line) {
    if (rows.size() >= maxRows)
      throw EFileError(format("В списке больше %zu строк: такой файл не загружается", maxRows));
    TPriceRow& row = rows.emplace_back();
    std::string* cells[kPriceColumnCount] = {&row.Code, &row.Line1, &row.Line2};
    for (int field = 0; field < kPriceColumnCount; ++field) {
      size_t end = line.find(';');
      cells[field]->assign(line.substr(0, end));
      if (end == std::string_view::npos) break;
      line.remove_prefix(end + 1);
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    addLine(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) addLine(text.substr(start));
  return rows;
}

std::string TPriceList::FormatText(const std::vector<TPriceRow>& rows) {
  size_t size = 0;
  for (const TPriceRow& row : rows) size += row.Code.size() + row.Line1.size() + row.Line2.size() + 5;
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

void TPriceList::LoadFromFile(const std::string& path) {
  std::vector<TPriceRow> rows;
  try {
    rows = ParseText(readPriceFile(path));
  } catch (const EFileError& e) {
    std::string message = e.what();
    std::string name = utf8ToAnsi(path);
    // The parser does not know the file's name.
    if (message.find(name) == std::string::npos) message = format("Файл '%s': %s", name.c_str(), message.c_str());
    throw EFileError(message);
  }
  Assign(std::move(rows));
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

TPriceAnswer answerFor(const TPriceList& list, const TNotFoundLines& notFound, std::string_view data) {
  TPriceAnswer answer;
  answer.Barcode = std::string(cutBarcode(data));
  auto shown = [](const std::string& line) { return line.substr(0, kTerminalLineWidth); };
  if (std::optional<size_t> row = list.Find(answer.Barcode)) {
    answer.Found = true;
    answer.Row = *row;
    answer.Line1 = shown(list.Rows(*row).Line1);
    answer.Line2 = shown(list.Rows(*row).Line2);
  } else {
    answer.Line1 = shown(notFound.Line1);
    answer.Line2 = shown(notFound.Line2);
  }
  return answer;
}

}  // namespace mirelo
