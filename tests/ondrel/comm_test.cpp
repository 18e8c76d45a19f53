// TComm on a pseudo-terminal pair: the bytes and the line settings, a
// device that does not exist, a busy port, a write that stops short, and
// no descriptor left behind.
#include "testbench/comm.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <thread>

#include "ondrel_fixture.h"
#include "test_support.h"
#include "testbench/server_pages.h"

namespace mirelo::test {
namespace {

// The controlling side of a pseudo-terminal whose other side is COM3.
class PseudoTerminal : public testing::Test {
 protected:
  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    setenv("MIRELO_COM3", ptsname(master), 1);
  }
  ~PseudoTerminal() override {
    ::close(master);
    unsetenv("MIRELO_COM3");
  }
  std::string readAll(size_t count) {
    std::string data;
    while (data.size() < count) {
      pollfd entry{master, POLLIN, 0};
      if (::poll(&entry, 1, 2000) <= 0) break;
      char buffer[65536];
      ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      data.append(buffer, static_cast<size_t>(n));
    }
    return data;
  }
  int master = -1;
};

TEST_F(PseudoTerminal, WritesTheBytesRawAtTheChosenRate) {
  int before = openDescriptors();
  {
    TComm comm;
    comm.PortNumber = 3;
    comm.SetBaudRate(4800);
    comm.OpenPort();
    termios line{};
    ASSERT_EQ(tcgetattr(comm.handle(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B4800);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u) << "LF must not become CR LF";
    comm.SetBaudRate(115200);
    ASSERT_EQ(tcgetattr(comm.handle(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B115200);

    TComm second;
    second.PortNumber = 3;
    EXPECT_THROW(second.OpenPort(), Exception) << "the port is not shared";
    EXPECT_FALSE(second.PortOpen());

    comm.WriteData(
        "\x01"
        "123\r\n\xFF");
    EXPECT_EQ(readAll(7),
              "\x01"
              "123\r\n\xFF");
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST_F(PseudoTerminal, AMissingDeviceReportsTheSystemsTextAndLeavesNothingOpen) {
  EXPECT_EQ(TComm::DeviceName(1), getenv("MIRELO_COM1") ? getenv("MIRELO_COM1") : "/dev/ttyS0");
  setenv("MIRELO_COM4", "/nonexistent/ttyX", 1);
  int before = openDescriptors();
  TComm comm;
  comm.PortNumber = 4;
  try {
    comm.OpenPort();
    FAIL() << "opened";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
  setenv("MIRELO_COM4", "/dev/null", 1);  // no serial line
  EXPECT_THROW(comm.OpenPort(), Exception);
  EXPECT_EQ(openDescriptors(), before);
  unsetenv("MIRELO_COM4");
}

TEST_F(PseudoTerminal, AWriteThatStopsShortContinuesUntilItsDeadline) {
  const std::string data(256 * 1024, 'x');
  TComm comm;
  comm.PortNumber = 3;
  comm.WriteTotalTimeoutMultiplier = 0;
  comm.WriteTotalTimeoutConstant = 10000;
  comm.OpenPort();
  std::string received;
  std::thread reader([&] { received = readAll(data.size()); });
  comm.WriteData(data);
  reader.join();
  EXPECT_EQ(received.size(), data.size());

  // Nobody reads: the line fills up and the deadline passes.
  comm.WriteTotalTimeoutConstant = 200;
  try {
    comm.WriteData(data);
    FAIL() << "written";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Ошибка записи данных в COM порт.");
  }
}

TEST_F(Ondrel, SendComWritesTheBarcodeAndCrLfToTheChosenPort) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  setenv("MIRELO_COM2", ptsname(master), 1);
  makeWindow();
  auto& send = page<TfmSendBarcode>(8);
  send.cbCOMPort->setCurrentIndex(1);
  send.cbBaudRate->setCurrentIndex(2);
  send.edtData->setText(q(u"Щ123"));
  send.SendCOM();
  pollfd entry{master, POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 2000), 1);
  char buffer[64];
  ssize_t n = ::read(master, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), "Щ123\r\n");
  EXPECT_EQ(TfmSendBarcode::BaudRateOf(2), 4800);
  EXPECT_EQ(TfmSendBarcode::BaudRateOf(9), 4800);
  ::close(master);
  unsetenv("MIRELO_COM2");
}

}  // namespace
}  // namespace mirelo::test
