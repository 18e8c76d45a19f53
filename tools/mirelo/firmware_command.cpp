// mirelo firmware: loads a firmware image into a terminal through the object's
// UpdateSoft, following the blocks the terminal confirms through the object's
// progress interface. The stored firmware file name is left as it was.
#include <functional>
#include <optional>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/file_checks.h"
#include "tools/mirelo/progress_meter.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

const char* const kFirmwareHelp = R"HELP(Usage: mirelo firmware [--device N] FILE

Loads the firmware image FILE (at most 122880 bytes) into the terminal:
switches it into programming mode, sends the image in blocks of 256 bytes
and ends programming mode. Firmware always travels over UDP, whatever the
device's protocol, to the device's address and port.

On a terminal a bar shows the blocks sent, the percentage and the time
left; otherwise a line is printed at every tenth of the way. A file that
cannot be read stops the command before anything is sent.

A terminal whose update failed may stay in programming mode; commands over
TCP then fail with -16 until the firmware is loaded again.

--device N uses logical device N instead of the current one.

Exit status: 0 loaded, 1 the file could not be read or the terminal did not
take the image (printed as "(code) text"), 2 bad usage.

Example:
  mirelo firmware vistel-2.6.bin
)HELP";

namespace {

constexpr size_t kBlockSize = 256;

// The image's size; a file that cannot be read or holds nothing stops the
// command before anything is sent (an empty image would switch the terminal
// into programming mode and out again and pass for a successful update).
size_t checkedFileSize(const std::string& path) {
  uintmax_t size = requireReadableFile(path, "firmware file");
  if (size == 0)
    throw std::runtime_error("the firmware file '" + path + "' is empty: nothing to load");
  return static_cast<size_t>(size);
}

// The firmware file name set for the update, put back on every path so
// that the object saves it as it was.
class SoftFileNameGuard {
 public:
  explicit SoftFileNameGuard(DriverSession& session)
      : session_(session), softFileName_(session.readText(&IVistel4::get_SoftFileName)) {}
  ~SoftFileNameGuard() {
    try {
      session_.write(&IVistel4::put_SoftFileName, softFileName_);
    } catch (const std::exception&) {
      // Nothing left to do about it: the object keeps what it has.
    }
  }
  SoftFileNameGuard(const SoftFileNameGuard&) = delete;
  SoftFileNameGuard& operator=(const SoftFileNameGuard&) = delete;

 private:
  DriverSession& session_;
  std::u16string softFileName_;
};

class ProgressSink final : public ComObject<IVistelProgressSink> {
 public:
  explicit ProgressSink(std::function<void(int)> onBlock) : onBlock_(std::move(onBlock)) {}
  HRESULT FirmwareBlock(LONG block, LONG) override {
    confirmed = block;
    try {
      onBlock_(block);
    } catch (...) {
      // A progress line that cannot be printed must not stop the update.
    }
    return S_OK;
  }
  int confirmed = 0;

 private:
  std::function<void(int)> onBlock_;
};

int firmwareCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, kFirmwareHelp);
  line.requirePositional(1, 1, "the firmware file");
  const std::string& path = line.positional()[0];
  std::u16string objectPath = utf8Text(path);
  requireWindows1251(objectPath);
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  size_t size = checkedFileSize(path);
  int blocks = static_cast<int>((size + kBlockSize - 1) / kBlockSize);

  // Made before the session, so that it outlives the object's calls.
  std::optional<ProgressMeter> meter;
  DriverSession session;
  session.useDevice(device);
  std::string summary = session.deviceSummary();
  SoftFileNameGuard fileName(session);
  session.write(&IVistel4::put_SoftFileName, objectPath);

  context.out << format("Loading %s (%d bytes, %d blocks) into ", path.c_str(),
                        static_cast<int>(size), blocks)
              << summary << '\n';
  context.out.flush();
  meter.emplace(context.out, context.outIsTerminal, "blocks");
  meter->setTotal(blocks);
  ComPtr<ProgressSink> progress(new ProgressSink([&](int block) { meter->update(block); }));
  ComPtr<IVistelProgress> reporter;
  if (SUCCEEDED(session.object().QueryInterface(IID_IVistelProgress, reporter.putVoid())))
    reporter->SetProgressSink(progress.get());

  LONG code = session.call(&IVistel4::UpdateSoft);
  if (reporter) reporter->SetProgressSink(nullptr);
  meter->finish();
  if (code != 0) {
    try {
      session.checkResultCode();
    } catch (const DriverFailure& failure) {
      throw failure.within(
          progress->confirmed > 0
              ? format("loading the firmware (after %d of %d blocks)", progress->confirmed, blocks)
              : std::string("loading the firmware"));
    }
  }
  context.out << "Firmware loaded in " << ProgressMeter::clockText(meter->elapsed()) << ".\n";
  context.out.flush();
  return 0;
}

}  // namespace

int runFirmwareCommand(const CommandContext& context) {
  return runGuarded(context, "firmware", [&] { return firmwareCommand(context); });
}

}  // namespace mirelo::shell
