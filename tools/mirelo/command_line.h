#pragma once
// The arguments of the commands for people (devices, status, tables, ...):
// options "--name VALUE" or "--name=VALUE", flags "--name", positional
// arguments, and "--" after which everything is positional (a display line
// may begin with '-'), read with CLI11. Every problem raises UsageError (exit
// status 2).
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mirelo/vistel_protocol.h"

namespace mirelo::shell {

struct OptionSpec {
  const char* name;  // with its dashes: "--device"
  bool takesValue;
};

class CommandLine {
 public:
  // Raises UsageError for an option not in specs, an option without its
  // value, a flag given a value, or an option given twice. "--help" and
  // "-h" before "--" only set help().
  CommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

  bool help() const { return help_; }
  bool has(std::string_view name) const;
  std::optional<std::string> value(std::string_view name) const;
  const std::vector<std::string>& positional() const { return positional_; }

  // The positional arguments must number between min and max.
  void requirePositional(size_t min, size_t max, const char* what) const;

  // Option values, checked; nullopt when the option is absent.
  std::optional<int32_t> integer(std::string_view name, int32_t min, int32_t max) const;
  std::optional<TProtocol> protocol(std::string_view name) const;
  std::optional<bool> onOff(std::string_view name) const;

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::set<std::string, std::less<>> flags_;
  std::vector<std::string> positional_;
  bool help_ = false;
};

// A decimal (or 0x hexadecimal) integer within min..max; what names it in
// the message ("--port", "the table number").
int32_t parseBounded(std::string_view text, int32_t min, int32_t max, const std::string& what);
// "udp" or "tcp" in any letter case, or 0 / 1.
TProtocol parseProtocol(std::string_view text, const std::string& what);
// A dotted IPv4 address of four decimal numbers ("127.0.0.1").
bool isDottedAddress(std::string_view text);
// Seconds with up to three decimals ("2", "0.5") within 0..max, as milliseconds.
int32_t parseSeconds(std::string_view text, int32_t maxSeconds, const std::string& what);

}  // namespace mirelo::shell
