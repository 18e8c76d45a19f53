// Every fault termsim can make, over UDP and TCP, for a command made once
// (GetStatus) and a repeated one (TestTCP), end to end through mirelo: no
// command waits past its timeouts, every failure has its code and text, and
// the next command works once the terminal behaves.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

constexpr int kTimeout = 500;
constexpr int kRepeats = 2;

struct Outcome {
  int code;
  const char* text;  // Windows-1251, as the object gives it; "" with code 0
};
constexpr Outcome kDone{0, ""};
constexpr Outcome kNoConnection{-1, "Нет связи"};

struct Row {
  const char* fault;
  std::function<void(termsim::Faults&, termsim::Simulator&)> apply;
  // [UDP, TCP][once, repeated]
  Outcome outcome[2][2];
};

class FaultMatrixTest : public CommandTest {};

TEST_F(FaultMatrixTest, EveryFaultEndsInTimeWithItsCodeAndTheNextCommandWorks) {
  const Outcome mismatchOnce{
      -15, "Код команды принятого кадра (1) \\r\\nне равен коду команды посланного кадра (187)."};
  const Outcome mismatchRepeated{
      -15, "Код команды принятого кадра (1) \\r\\nне равен коду команды посланного кадра (201)."};
  const Outcome tooShort{-15, "Длина принятого кадра (1) меньше минимальной длины кадра (2)."};
  const Outcome refused{217, "Невозможно выполнить операцию."};
  const Outcome programming{-16, "Команда недоступна в режиме программирования"};
  const Row rows[] = {
      {"drop",
       [](termsim::Faults& f, termsim::Simulator&) { f.dropEvery = 1; },
       {{kNoConnection, kNoConnection}, {kNoConnection, kNoConnection}}},
      // A repeat takes the late reply to the attempt before it.
      {"delay",
       [](termsim::Faults& f, termsim::Simulator&) { f.delayMs = kTimeout * 3 / 2; },
       {{kNoConnection, kDone}, {kNoConnection, kDone}}},
      {"error byte",
       [](termsim::Faults& f, termsim::Simulator&) {
         f.errorFor = {{0xBB, 217}, {0xC9, 217}};
       },
       {{refused, refused}, {refused, refused}}},
      {"wrong command",
       [](termsim::Faults& f, termsim::Simulator&) { f.wrongCommand = 0x01; },
       {{mismatchOnce, mismatchRepeated}, {mismatchOnce, mismatchRepeated}}},
      {"truncate",
       [](termsim::Faults& f, termsim::Simulator&) { f.truncateTo = 1; },
       {{tooShort, tooShort}, {tooShort, tooShort}}},
      {"stay in programming",
       [](termsim::Faults& f, termsim::Simulator& sim) {
         f.stayInProgramming = true;
         sim.setProgrammingMode(true);
       },
       {{kDone, kDone}, {programming, programming}}},
      {"close after request",
       [](termsim::Faults& f, termsim::Simulator&) { f.closeAfterRequest = true; },
       {{kDone, kDone}, {kDone, kDone}}},
      {"split reply",
       [](termsim::Faults& f, termsim::Simulator&) { f.splitReply = true; },
       {{kDone, kDone}, {kDone, kDone}}},
  };
  const struct {
    const char* member;
    uint8_t command;
  } commands[] = {{"GetStatus", 0xBB}, {"TestTCP", 0xC9}};
  // Tries, and over TCP a mode check of three thirds, with ample room.
  const auto bound = std::chrono::milliseconds(kTimeout * (kRepeats + 1) + 3000);

  for (int transport = 0; transport < 2; ++transport) {
    Result set =
        mirelo({"devices", "set", "--address", "127.0.0.1", "--port", std::to_string(sim_.port()),
                "--protocol", transport ? "tcp" : "udp", "--timeout", std::to_string(kTimeout),
                "--repeat-count", std::to_string(kRepeats)});
    ASSERT_EQ(set.code, 0) << set.err;
    for (const Row& row : rows) {
      for (int kind = 0; kind < 2; ++kind) {
        const auto& command = commands[kind];
        SCOPED_TRACE(
            format("%s over %s, %s", row.fault, transport ? "TCP" : "UDP", command.member));
        termsim::Faults faults;
        faults.onlyCommand = command.command;
        row.apply(faults, sim_);
        sim_.setFaults(faults);
        auto start = std::chrono::steady_clock::now();
        Result r = mirelo({"run", command.member});
        EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
        const Outcome& expected = row.outcome[transport][kind];
        std::string line = std::string(command.member) + ": " + std::to_string(expected.code) +
                           " " + utf8(expected.code ? expected.text : "Ошибок нет");
        EXPECT_EQ(r.code, expected.code ? 1 : 0);
        EXPECT_EQ(r.out, std::vector<std::string>{line});

        sim_.clearFaults();
        sim_.setProgrammingMode(false);
        r = mirelo({"run", command.member});
        EXPECT_EQ(r.code, 0) << (r.out.empty() ? r.err : r.out[0]);
      }
    }
  }
}

}  // namespace
}  // namespace mirelo::test
