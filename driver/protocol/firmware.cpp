// Loading a firmware image into a terminal. Always over UDP, each exchange
// made once: a terminal between programming steps must not see a request
// twice. Replies are checked command code first, then the error byte.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "driver/protocol/custom_driver.h"
#include "platform/bytes.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

constexpr uint8_t kStartProgramming = 0xC0;
constexpr uint8_t kProgramBlock = 0xC1;
constexpr uint8_t kEndProgramming = 0xC2;
constexpr size_t kReadModeReplyMinimum = 4;
constexpr uint8_t kProgrammingMode = 0;

const char* const kFileTooLarge = "Размер файла прошивки не может превышать 120 кБ.";
const char* const kNoProgrammingMode = "Не удалось перейти в режим программирования.";

// The whole image, read before anything is sent: a file that cannot be read
// or is too large leaves the terminal untouched, and the image sent is the
// one that was checked.
std::string readFirmwareFile(const std::string& fileName) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(ansiToUtf8(fileName).c_str(), "rbe"),
                                             &std::fclose);
  if (!file)
    throw EFileError(format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
  std::string image;
  char buffer[8192];
  while (image.size() <= TCustomDriver::FirmwareMaxSize) {
    size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    image.append(buffer, count);
    if (count < sizeof buffer) break;
  }
  if (std::ferror(file.get()))
    throw EFileError(format("Cannot read file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
  if (image.size() > TCustomDriver::FirmwareMaxSize) throw Exception(kFileTooLarge);
  return image;
}

}  // namespace

void TCustomDriver::UpdateFirmware(const std::string& fileName, const TFirmwareProgress& progress) {
  CloseClient();
  const std::string image = readFirmwareFile(fileName);
  // Whatever happens, the update leaves no client connection open.
  struct CloseUdp {
    TUDPClient& client;
    ~CloseUdp() { client.Close(); }
  } closeUdp{UDPClient()};

  auto exchange = [this](std::string_view frame) {
    SendUDP(frame);
    std::string reply = ReceiveUDP();
    CheckFirmwareReply(reply, static_cast<uint8_t>(frame[0]));
    return reply;
  };
  const std::string start(1, static_cast<char>(kStartProgramming));

  exchange(start);
  std::this_thread::sleep_for(ProgrammingModePause);

  SendUDP(std::string(1, static_cast<char>(kReadMode)));
  std::string mode = ReceiveUDP();
  CheckReply(mode, kReadMode, kReadModeReplyMinimum);
  if (ByteReader(mode, 2).u8() != kProgrammingMode) throw Exception(kNoProgrammingMode);

  exchange(start);
  const int blockCount =
      static_cast<int>((image.size() + FirmwareBlockSize - 1) / FirmwareBlockSize);
  ByteReader reader(image);
  for (int block = 1; block <= blockCount; ++block) {
    std::string_view bytes = reader.upTo(FirmwareBlockSize);
    exchange(ByteWriter(4 + bytes.size())
                 .u8(kProgramBlock)
                 .u8(0)
                 .u16le(static_cast<unsigned>(block))
                 .bytes(bytes)
                 .take());
    if (progress) progress(block, blockCount);
  }
  exchange(std::string(1, static_cast<char>(kEndProgramming)));
}

}  // namespace mirelo
