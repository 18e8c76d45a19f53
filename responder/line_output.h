#pragma once
// Output lines for a descriptor that nobody may be reading (a pipe whose
// reader stopped, a stopped terminal): the lines wait in a bounded buffer and
// a thread of their own writes them, so the service never waits for its
// reader. A line that does not fit is dropped and counted.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mirelo {

class TLineOutput {
 public:
  static constexpr size_t kDefaultCapacity = 256 * 1024;

  explicit TLineOutput(int fd, size_t capacity = kDefaultCapacity);
  // Waits a moment for the writer to finish; a writer that is stuck in its
  // write is left to the end of the process.
  ~TLineOutput();
  TLineOutput(const TLineOutput&) = delete;
  TLineOutput& operator=(const TLineOutput&) = delete;

  // Adds the text and a line end; false when the line was dropped.
  bool Add(std::string_view text);
  // Hands the lines added so far to the writer.
  void Flush();
  // Lines dropped since the start.
  uint64_t Dropped() const { return dropped_; }
  // Flushes and waits up to timeoutMs until everything has been written.
  bool Drain(int timeoutMs);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::string staged_;  // added, not yet handed over
  size_t capacity_;
  uint64_t dropped_ = 0;
};

// Control bytes (below 0x20, 0x7F, and 0x98, which Windows-1251 lacks) as
// \xNN, so that no text from a file or a terminal can move the cursor or end
// a line of the output.
std::string escapeControls(std::string_view text);

}  // namespace mirelo
