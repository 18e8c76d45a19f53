#pragma once
// The shell's output streams: every control character that reaches them
// (from a terminal's reply, a stored name, a file name) is written as
// "\xHH", so that no output line can move the cursor, recolour the screen or
// hide a line. Line feeds end lines and pass; so do the C0 and C1 controls
// of UTF-8 only as escapes. A progress bar draws its own controls through
// writeControls.
#include <ostream>
#include <streambuf>
#include <string_view>

namespace mirelo::shell {

class EscapingBuffer : public std::streambuf {
 public:
  explicit EscapingBuffer(std::streambuf* target) : target_(target) {}
  ~EscapingBuffer() override;
  // Written as they are: the cursor controls of a progress bar.
  void writeControls(std::string_view text);

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize count) override;
  int sync() override;

 private:
  void put(unsigned char c);
  void escape(unsigned byte);
  void flushLead();

  std::streambuf* target_;
  bool lead_ = false;  // a 0xC2 whose next byte decides whether it is a C1 control
};

// An ostream over another one's buffer through an EscapingBuffer.
class EscapingStream : public std::ostream {
 public:
  explicit EscapingStream(std::ostream& target) : std::ostream(nullptr), buffer_(target.rdbuf()) {
    rdbuf(&buffer_);
  }
  ~EscapingStream() override { flush(); }

 private:
  EscapingBuffer buffer_;
};

// Writes text with its controls: unescaped through an EscapingBuffer, as it
// is on any other stream.
void writeControls(std::ostream& out, std::string_view text);

}  // namespace mirelo::shell
