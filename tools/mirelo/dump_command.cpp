// mirelo dump: a terminal's memory, block by block through GetData, into a
// file of raw bytes. The terminal answers 211 for the first block number past
// the end, which ends the dump.
#include <optional>

#include "driver/errors/driver_error.h"
#include "platform/atomic_file.h"
#include "platform/com/variant.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/file_checks.h"
#include "tools/mirelo/progress_meter.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {

const char* const kDumpHelp = R"HELP(Usage: mirelo dump [--device N] --memory CODE FILE

Reads one of the terminal's memories block by block (1024 bytes a block,
from block 0 until the terminal refuses the next one) and writes the raw
bytes to FILE. CODE chooses the memory:

  0  external data storage (EEPROM)
  1  internal data storage
  2  storage of the CS8900A Ethernet controller
  3  program storage

On a terminal a bar shows the blocks read, the percentage and the time
left; otherwise a line is printed at every tenth of the way. FILE is
written only when the whole memory has been read (an existing FILE stays
as it was when the dump fails); a FILE that cannot be written stops the
command before anything is sent.

--device N uses logical device N instead of the current one.

Exit status: 0 written, 1 the terminal did not answer or reported an error
(printed as "(code) text") or FILE could not be written, 2 bad usage.

Example:
  mirelo dump --memory 0 eeprom.bin
)HELP";

namespace {

constexpr int32_t kLastBlockNumber = 0xFFFF;

int dumpCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}, {"--memory", true}});
  if (line.help()) return printHelp(context, kDumpHelp);
  line.requirePositional(1, 1, "the file to write");
  std::optional<int32_t> memory = line.integer("--memory", 0, 255);
  if (!memory) throw UsageError("--memory CODE is required (0 to 3)");
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  const std::string& path = line.positional()[0];
  requireWritableFile(path, "dump file");

  DriverSession session;
  TerminalConnection connection(session, device);
  session.write(&IVistel4::put_DeviceCode, *memory);
  std::string memoryName = format("memory %d (", *memory) +
                           wideToUtf8(session.readText(&IVistel4::get_DeviceCodeDescription)) + ")";
  context.out << "Reading " << memoryName << " of " << connection.summary() << '\n';
  context.out.flush();

  ProgressMeter meter(context.out, context.outIsTerminal, "blocks");
  std::string image;
  std::string refusal;  // the terminal's text for the block past the end
  int32_t blocks = 0;
  for (; blocks <= kLastBlockNumber; ++blocks) {
    session.write(&IVistel4::put_DataBlockNumber, blocks);
    LONG code = session.call(&IVistel4::GetData);
    if (code == ResultCode::InvalidParameters) {
      refusal = wideToUtf8(session.readText(&IVistel4::get_ResultCodeDescription));
      break;
    }
    if (code != 0) {
      meter.finish();
      try {
        session.checkResultCode();
      } catch (const DriverFailure& failure) {
        throw failure.within(format("reading block %d of ", blocks) + memoryName +
                             ", dump not written");
      }
    }
    int32_t count = session.readInt(&IVistel4::get_DataBlockCount);
    if (count > blocks) meter.setTotal(count);
    Variant data;
    session.readVariant(&IVistel4::get_DataBlockSA, data);
    image += data.toBytes();
    meter.update(blocks + 1);
  }
  meter.finish();
  connection.close();
  if (blocks == 0) {
    throw DriverFailure(ResultCode::InvalidParameters, refusal,
                        "the terminal has no block 0 of " + memoryName + ", dump not written");
  }
  try {
    // A memory image holds the terminal's settings, passwords included.
    writeFileAtomically(path, image, FileAccess::OwnerOnly);
  } catch (const Exception& error) {
    throw std::runtime_error(ansiToUtf8(error.what()));
  }
  context.out << format("Wrote %d blocks (%d bytes) to %s in ", blocks,
                        static_cast<int>(image.size()), path.c_str())
              << ProgressMeter::clockText(meter.elapsed()) << ".\n";
  context.out.flush();
  return 0;
}

}  // namespace

int runDumpCommand(const CommandContext& context) {
  return runGuarded(context, "dump", [&] { return dumpCommand(context); });
}

}  // namespace mirelo::shell
