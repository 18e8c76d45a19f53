#pragma once
// The record of every frame the simulated terminal received, so that tests
// can assert exactly what the driver sent. Thread-safe; optionally mirrored
// line by line into a file ("-" is standard output).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace mirelo::termsim {

enum class Transport { UDP, TCP };

struct JournalEntry {
  Transport transport;
  std::string bytes;       // the frame as received
  bool discovery = false;  // arrived on the discovery port

  bool operator==(const JournalEntry&) const = default;
};

// "UDP: BB", "TCP: AD 00 01 00", "UDP discovery: BB"
std::string formatJournalLine(const JournalEntry& entry);

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Starts mirroring into a file (truncated); raises EFileError.
  void openFile(const std::string& path);
  void closeFile();

  void add(JournalEntry entry);
  std::vector<JournalEntry> entries() const;
  size_t size() const;
  void clear();
  // True once at least count entries are recorded, false after the timeout.
  bool waitFor(size_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<JournalEntry> entries_;
  FILE* file_ = nullptr;
  bool ownsFile_ = false;
};

}  // namespace mirelo::termsim
