#include "tools/termsim/journal.h"

#include <cerrno>
#include <cstring>

#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo::termsim {

std::string formatJournalLine(const JournalEntry& entry) {
  std::string line = entry.transport == Transport::TCP ? "TCP" : "UDP";
  line += entry.discovery ? " discovery: " : ": ";
  line += bytesToHex(entry.bytes);
  return line;
}

Journal::~Journal() {
  closeFile();
}

void Journal::openFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (file_ && ownsFile_) std::fclose(file_);
  file_ = nullptr;
  if (path == "-") {
    file_ = stdout;
    ownsFile_ = false;
    return;
  }
  file_ = std::fopen(path.c_str(), "w");
  if (!file_)
    throw EFileError(format("Cannot open journal file %s: %s", path.c_str(), std::strerror(errno)));
  ownsFile_ = true;
}

void Journal::closeFile() {
  std::lock_guard lock(mutex_);
  if (file_ && ownsFile_) std::fclose(file_);
  file_ = nullptr;
}

void Journal::add(JournalEntry entry) {
  {
    std::lock_guard lock(mutex_);
    if (file_) {
      std::string line = formatJournalLine(entry) + "\n";
      std::fwrite(line.data(), 1, line.size(), file_);
      std::fflush(file_);
    }
    entries_.push_back(std::move(entry));
  }
  changed_.notify_all();
}

std::vector<JournalEntry> Journal::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

size_t Journal::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void Journal::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

bool Journal::waitFor(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
}

}  // namespace mirelo::termsim
