#pragma once
// TComm: a serial port for writing a barcode the way a serial scanner sends
// it. Port n is /dev/ttyS(n-1), unless the environment variable MIRELO_COMn
// names another device (a USB adapter, a pseudo-terminal). The line is raw
// 8N1 without flow control; the port is opened exclusively and never becomes
// the program's controlling terminal. Failures raise Exception with the
// system's text (Windows-1251).
#include <cstdint>
#include <string>
#include <string_view>

namespace mirelo {

class TComm {
 public:
  TComm() = default;
  ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  int PortNumber = 1;
  // Write time-outs in milliseconds: a write may take multiplier x bytes + constant.
  uint32_t WriteTotalTimeoutMultiplier = 100;
  uint32_t WriteTotalTimeoutConstant = 100;

  // The device of port n.
  static std::string DeviceName(int portNumber);
  // 1200 .. 115200; other rates are refused when the line is set.
  static bool IsSupportedRate(int rate);

  // Nothing when already open.
  void OpenPort();
  void ClosePort();
  bool PortOpen() const { return fd_ >= 0; }
  int BaudRate() const { return baudRate_; }
  void SetBaudRate(int rate);
  // Writes every byte or raises: a write that stops short before the write
  // time-out passes is continued.
  void WriteData(std::string_view data);
  // The open descriptor, -1 when closed.
  int handle() const { return fd_; }

 private:
  void applyLineSettings();

  int fd_ = -1;
  int baudRate_ = 4800;
};

}  // namespace mirelo
