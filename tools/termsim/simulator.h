#pragma once
// A simulated terminal serving its command set on one port over UDP and TCP
// at once, plus the discovery request on a second UDP port. It runs its own
// thread (plain sockets and poll); every accessor below is thread-safe.
//
//   termsim::Simulator sim;            // 127.0.0.1, free port, ephemeral discovery
//   sim.start();
//   ... talk to 127.0.0.1:sim.port() ...
//   EXPECT_EQ(sim.journal().at(0).bytes, "\xBB");
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "tools/termsim/faults.h"
#include "tools/termsim/journal.h"
#include "tools/termsim/terminal_state.h"

namespace mirelo::termsim {

struct Options {
  std::string bindAddress = "127.0.0.1";
  // 0: a port free for UDP and TCP alike is chosen; read it back with port().
  uint16_t port = 0;
  // 0: ephemeral; negative: no discovery socket. Equal to port: the terminal
  // port's own UDP socket answers (it answers 0xBB anyway).
  int discoveryPort = 0;
  std::string journalFile;  // empty: no file; "-": standard output
  std::string firmwareOut;  // written after every completed update (0xC2)
  Faults faults;
  TerminalState state;
};

class Simulator {
 public:
  Simulator();  // default options
  explicit Simulator(Options options);
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds the sockets and starts the thread; raises mirelo::Exception when a
  // port cannot be bound or the bind address is not a dotted IPv4 address,
  // EFileError when the journal file cannot be created. Starting a running
  // simulator does nothing; a stopped one may be started again (state kept).
  void start();
  // Closes every socket and joins the thread. Pending (delayed) replies are
  // not sent.
  void stop();
  bool running() const { return running_; }

  uint16_t port() const { return port_; }
  uint16_t discoveryPort() const { return discoveryPort_; }  // 0 without one

  std::vector<JournalEntry> journal() const { return journal_.entries(); }
  void clearJournal() { journal_.clear(); }
  // True once at least count frames have been received (and handled).
  bool waitForJournal(size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
    return journal_.waitFor(count, timeout);
  }

  Faults faults() const;
  // Also restarts the count of dropEvery.
  void setFaults(const Faults& faults);
  void clearFaults() { setFaults({}); }

  // Runs f on the state under the simulator's lock; returns what f returns.
  template <typename F>
  auto withState(F&& f) -> std::invoke_result_t<F, TerminalState&> {
    std::lock_guard lock(mutex_);
    return f(state_);
  }
  TerminalState state() const;

  StatusInfo status() const;
  void setStatus(const StatusInfo& status);
  bool locked() const;
  void setLocked(bool locked);
  bool programmingMode() const;
  void setProgrammingMode(bool on);
  DisplayState display() const;
  std::string newAddress() const;  // dotted text of the last 0xB7, empty before
  std::string firmware() const;    // image received since the last 0xC0
  unsigned firmwareUpdates() const;
  std::string message(size_t number) const;
  void setMessageCount(size_t count);
  void setMemoryBlocks(size_t code, size_t blocks);
  // Writes the received image; raises EFileError.
  void writeFirmware(const std::string& path) const;

  size_t tcpConnections() const { return tcpOpen_; }   // open now
  size_t tcpAccepted() const { return tcpAccepted_; }  // since construction
  size_t requests() const { return requests_; }        // frames on the terminal port

 private:
  struct Loop;
  void run();
  void closeSockets();

  Options options_;
  mutable std::mutex mutex_;  // guards state_, faults_, dropCount_
  TerminalState state_;
  Faults faults_;
  unsigned dropCount_ = 0;
  Journal journal_;

  std::thread thread_;
  std::atomic<bool> running_{false};
  int udp_ = -1, listener_ = -1, discovery_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0, discoveryPort_ = 0;
  std::atomic<size_t> tcpOpen_{0}, tcpAccepted_{0}, requests_{0};
};

}  // namespace mirelo::termsim
