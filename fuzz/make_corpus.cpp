// Seeds the fuzz targets' corpora: every request of termsim journals is
// answered by termsim's own protocol handler, and the request and its reply
// become inputs of the targets that parse them; the sample files join in.
//   make_corpus OUTPUT_FOLDER SEED_FOLDER PRICE_LIST [JOURNAL...]
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "fuzz/reply_operations.h"
#include "platform/format.h"
#include "tools/termsim/protocol_handler.h"
#include "tools/termsim/terminal_state.h"

namespace fs = std::filesystem;
using namespace mirelo;

namespace {

int written = 0;

void seed(const fs::path& folder, const std::string& bytes) {
  fs::create_directories(folder);
  std::ofstream(folder / format("seed-%05d", written++), std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// "UDP: BB 00" → the bytes; discovery lines are left out.
std::optional<std::string> requestOf(const std::string& line) {
  size_t colon = line.find(": ");
  if (colon == std::string::npos || line.find("discovery") != std::string::npos)
    return std::nullopt;
  return parseHexBytes(line.substr(colon + 2), " ");
}

void seedRequest(const fs::path& out, const std::string& request, termsim::TerminalState& state,
                 bool tcp) {
  std::string reply = termsim::handleRequest(state, request, {});
  seed(out / "fuzz_hex_text", bytesToHex(request));
  uint8_t command = static_cast<uint8_t>(request[0]);
  for (size_t op = 0; op < sizeof fuzz::kReplyOperations; ++op) {
    if (fuzz::kReplyOperations[op] != command) continue;
    std::string input(1, static_cast<char>(op));
    input += static_cast<char>(tcp ? 1 : 0);
    input += (request + std::string(5, '\0')).substr(1, 4);
    seed(out / "fuzz_reply", input + reply);
    if (tcp && reply.size() > 2) {  // the reply in two reads
      input[1] = static_cast<char>(1 | 1 << 1);
      seed(out / "fuzz_reply", input + static_cast<char>(reply.size() / 2) + reply);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: make_corpus OUTPUT_FOLDER SEED_FOLDER PRICE_LIST [JOURNAL...]\n";
    return 2;
  }
  fs::path out = argv[1], seeds = argv[2];
  termsim::TerminalState state;
  for (int i = 4; i < argc; ++i) {
    std::istringstream journal(readFile(argv[i]));
    for (std::string line; std::getline(journal, line);)
      if (std::optional<std::string> request = requestOf(line); request && !request->empty())
        seedRequest(out, *request, state, line.starts_with("TCP"));
  }
  // The sample files: one folder per target, named after it.
  for (const auto& entry : fs::directory_iterator(seeds))
    if (entry.is_directory())
      for (const auto& file : fs::directory_iterator(entry.path()))
        seed(out / entry.path().filename(), readFile(file.path()));
  // Stored devices and parameters as the registry target reads its input:
  // where, value name, type (0 integer, 1 text), length, bytes.
  auto record = [](uint8_t where, uint8_t name, uint8_t type, const std::string& bytes) {
    return std::string{static_cast<char>(where), static_cast<char>(name), static_cast<char>(type),
                       static_cast<char>(bytes.size())} +
           bytes;
  };
  std::string devices;
  for (uint8_t number = 1; number <= 3; ++number)
    devices += record(number, 0, 0, std::string("\0\0\0", 3) + static_cast<char>(number)) +
               record(number, 2, 1, "127.0.0.1") +
               record(number, 3, 1, format("Device %d", number)) +
               record(number, 4, 0, std::string("\0\0\x03\xEA", 4));
  seed(out / "fuzz_registry", devices + record(0, 0, 0, std::string("\0\0\0\x02", 4)));
  seed(out / "fuzz_registry",
       record(1, 8, 0, std::string("\0\0\x07\xD4", 4)) + record(2, 12, 1, "Arial"));
  // The sample price list, and terminal messages for its codes.
  std::string prices = readFile(argv[3]);
  seed(out / "fuzz_price_list", prices);
  std::istringstream lines(prices);
  for (std::string line; std::getline(lines, line) && written < 100000;) {
    std::string code = line.substr(0, line.find(';'));
    seed(out / "fuzz_server_message", prices + '\0' + "\xAB" + '\0' + code + "\r\n");
  }
  std::cout << "make_corpus: " << written << " seeds in " << out << '\n';
  return 0;
}
