#pragma once
// The exchange log: time-stamped lines, frames as hex, 10 bytes a line. A
// line is handed to the callback before it is written. Nothing here fails
// towards the caller: a file that cannot be opened or written loses the line.
#include <functional>
#include <string>
#include <string_view>

namespace mirelo {

class TLogFile {
 public:
  using TOnLine = std::function<void(TLogFile& sender)>;
  static constexpr const char* Separator =
      "------------------------------------------------------------";

  TLogFile() = default;
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& fileName);

  void WriteLine(std::string_view text);
  void WriteSeparator() { WriteLine(Separator); }
  void WriteData(std::string_view prefix, std::string_view bytes);
  const std::string& LastLine() const { return lastLine_; }
  bool IsOpen() const { return fd_ >= 0; }

  TOnLine OnLine;

  // "dd.mm.yyyy hh:nn:ss.zzz " for the current local time.
  static std::string TimeStamp();

 private:
  void closeFile();

  int fd_ = -1;
  std::string lastLine_;
  std::string fileName_;
  bool enabled_ = false;
};

}  // namespace mirelo
