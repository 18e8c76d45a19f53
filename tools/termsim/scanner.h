#pragma once
// The terminal's own side of the protocol: it sends a scanned barcode to a
// host's server as a terminal message (0xAB, 0x00, barcode) and waits for the
// answer frame (0xAB, 0x00, 0x3C, 60 characters: line 1 then line 2).
// Also a load generator: many scans over several connections at once.
//
// Destinations obey the loopback rule: with MIRELO_LOOPBACK_ONLY set, any
// host outside 127.0.0.0/8 is refused before a socket is opened.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirelo::termsim {

struct ScanResult {
  bool ok = false;
  std::string line1, line2;  // Windows-1251: characters 1-30 and 31-60 of the answer text
  std::string answer;        // the answer frame as received
  std::string error;         // why there are no lines (English)
  bool timedOut = false;     // no (complete) answer within the timeout
};

// One scan: connect (TCP) or open a socket (UDP), send, wait for the answer.
// Never raises; failures come back in error.
ScanResult scan(const std::string& host, uint16_t port, std::string_view barcode, bool udp,
                int timeoutMs = 2000);

struct LoadOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 2004;
  std::string barcode;  // Windows-1251
  bool udp = false;
  int timeoutMs = 2000;
  size_t count = 1;        // scans in all
  size_t concurrency = 1;  // connections (UDP: sockets), each one scan at a time
};

struct LoadReport {
  size_t answered = 0;
  size_t missing = 0;  // no answer within the timeout
  size_t failed = 0;   // refused, closed by the host, malformed answer
  double seconds = 0;
  double answersPerSecond = 0;
  // Latency from send to complete answer, milliseconds, nearest rank.
  double p50Ms = 0, p90Ms = 0, p99Ms = 0, maxMs = 0;
  std::vector<std::string> errors;  // the first few distinct failures
  ScanResult last;                  // the last answer received
};

// Sends count scans over concurrency connections; a connection sends its next
// scan when the previous one is answered, has failed or timed out (after a
// failure or timeout it is reopened, so a late answer is not taken for the
// next one). Raises mirelo::Exception for a host that cannot be resolved or
// is refused by the loopback rule.
LoadReport runLoad(const LoadOptions& options);

// The terminal message for a barcode: 0xAB, 0x00, the barcode bytes.
std::string terminalMessage(std::string_view barcode);

enum class AnswerStatus { Incomplete, Complete, Malformed };
// Parses an answer frame received so far: 0xAB, 0x00, text length, text.
// Complete fills the lines; Malformed fills error.
AnswerStatus parseAnswer(std::string_view frame, std::string& line1, std::string& line2,
                         std::string& error);

// Dotted address or host name to an IPv4 address; applies the loopback rule.
// Raises mirelo::Exception.
sockaddr_in resolveDestination(const std::string& host, uint16_t port);

}  // namespace mirelo::termsim
