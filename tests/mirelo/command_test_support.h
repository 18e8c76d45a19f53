#pragma once
// Shared by the tests of the commands for people: a simulated terminal per
// test, and the current logical device pointed at it through "mirelo devices
// set" before any exchange (the stored default is a LAN address).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "shell_test_support.h"
#include "tools/termsim/termsim.h"

namespace mirelo::test {

class CommandTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sim_.start();
  }

  // The current device at the simulator; a short timeout keeps failing
  // exchanges quick while leaving loopback ample time.
  void pointAtSimulator(const char* protocol = "udp") {
    Result r = mirelo({"devices", "set", "--address", "127.0.0.1", "--port",
                       std::to_string(sim_.port()), "--protocol", protocol, "--timeout", "500"});
    ASSERT_EQ(r.code, 0) << r.err;
  }

  // A second logical device (number 2) at the simulator, the first one left
  // at its stored default: commands with --device 2 must reach the simulator.
  void addSimulatorAsDevice2(const char* protocol = "udp") {
    Result r = mirelo({"devices", "add", "--address", "127.0.0.1", "--port",
                       std::to_string(sim_.port()), "--protocol", protocol, "--timeout", "500"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = mirelo({"devices", "select", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
  }

  // The terminal answers command with this error byte.
  void failCommand(uint8_t command, uint8_t error) {
    termsim::Faults faults;
    faults.errorFor[command] = error;
    sim_.setFaults(faults);
  }
  // The terminal drops the reply to every n-th request (of one command only,
  // when given).
  void dropEvery(unsigned n, std::optional<uint8_t> command = std::nullopt) {
    termsim::Faults faults;
    faults.dropEvery = n;
    faults.onlyCommand = command;
    sim_.setFaults(faults);
  }

  std::string path(const std::string& name) const { return (dir() / name).string(); }

  std::string writeFile(const std::string& name, const std::string& bytes) const {
    std::string file = path(name);
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  static std::string readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Frames the terminal port received, first byte (command) each.
  std::vector<uint8_t> commandsReceived() const {
    std::vector<uint8_t> commands;
    for (const termsim::JournalEntry& entry : sim_.journal())
      if (!entry.bytes.empty()) commands.push_back(static_cast<uint8_t>(entry.bytes[0]));
    return commands;
  }

  termsim::Simulator sim_;
};

}  // namespace mirelo::test
