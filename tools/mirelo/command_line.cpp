#include "tools/mirelo/command_line.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>

#include "platform/format.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {
namespace {

// No argument holds a NUL. One after the first '=' keeps a value given as
// "--name=value" explicit where CLI11 would read "--name=" as "--name" taking
// the next argument and "--flag=x" as the flag.
std::string markValue(const std::string& arg) {
  size_t equals = arg.find('=');
  return equals == std::string::npos ? arg
                                     : arg.substr(0, equals + 1) + '\0' + arg.substr(equals + 1);
}

std::string unmark(std::string text) {
  std::erase(text, '\0');
  return text;
}

bool sameLetters(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if ((text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a' : text[i]) != lower[i])
      return false;
  return true;
}

}  // namespace

CommandLine::CommandLine(const std::vector<std::string>& args,
                         const std::vector<OptionSpec>& specs) {
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  for (const OptionSpec& spec : specs) {
    std::string name = spec.name;
    bool takesValue = spec.takesValue;
    // Run as each option is read, so that errors come in the order of the arguments.
    CLI::Option* option =
        app.add_option(name, [this, name, takesValue](const CLI::results_t& results) {
          if (has(name)) throw UsageError(name + " is given twice");
          if (takesValue)
            values_[name] = unmark(results[0]);
          else if (results[0].find('\0') != std::string::npos)
            throw UsageError(name + " takes no value");
          else
            flags_.insert(name);
          return true;
        });
    option->trigger_on_parse();
    if (!takesValue) option->expected(0);
  }
  // What CLI11 leaves, in order: the positional arguments, "--" that ends the
  // options, the help options and unknown options.
  auto takeRest = [&] {
    bool optionsEnded = false;
    for (const std::string& marked : app.remaining()) {
      std::string arg = unmark(marked);
      if (optionsEnded || arg.size() < 2 || arg[0] != '-')
        positional_.push_back(arg);
      else if (arg == "--")
        optionsEnded = true;
      else if (arg == "--help" || arg == "-h")
        help_ = true;
      else
        throw UsageError("unknown option '" + arg.substr(0, arg.find('=')) + "'");
    }
  };
  std::vector<std::string> reversed;
  for (auto arg = args.rbegin(); arg != args.rend(); ++arg) reversed.push_back(markValue(*arg));
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch&) {
    takeRest();
    // The last argument is an option without its value.
    const std::string& name = args.back();
    throw UsageError(has(name) ? name + " is given twice" : name + " needs a value");
  } catch (const UsageError&) {
    takeRest();
    throw;
  }
  takeRest();
}

bool CommandLine::has(std::string_view name) const {
  return flags_.contains(name) || values_.contains(name);
}

std::optional<std::string> CommandLine::value(std::string_view name) const {
  auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void CommandLine::requirePositional(size_t min, size_t max, const char* what) const {
  if (positional_.size() < min) throw UsageError(std::string("missing ") + what);
  if (positional_.size() > max) throw UsageError("unexpected argument '" + positional_[max] + "'");
}

std::optional<int32_t> CommandLine::integer(std::string_view name, int32_t min, int32_t max) const {
  std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  return parseBounded(*text, min, max, std::string(name));
}

std::optional<TProtocol> CommandLine::protocol(std::string_view name) const {
  std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  return parseProtocol(*text, std::string(name));
}

std::optional<bool> CommandLine::onOff(std::string_view name) const {
  std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  if (sameLetters(*text, "on")) return true;
  if (sameLetters(*text, "off")) return false;
  throw UsageError(std::string(name) + " takes on or off, not '" + *text + "'");
}

int32_t parseBounded(std::string_view text, int32_t min, int32_t max, const std::string& what) {
  int32_t value = 0;
  try {
    value = parseInteger(text);
  } catch (const UsageError& e) {
    throw UsageError(what + ": " + e.what());
  }
  if (value < min || value > max)
    throw UsageError(format("%s must be %d to %d", what.c_str(), min, max));
  return value;
}

TProtocol parseProtocol(std::string_view text, const std::string& what) {
  if (sameLetters(text, "udp") || text == "0") return ptUDP;
  if (sameLetters(text, "tcp") || text == "1") return ptTCP;
  throw UsageError(what + " takes udp or tcp, not '" + std::string(text) + "'");
}

bool isDottedAddress(std::string_view text) {
  in_addr address{};
  return inet_pton(AF_INET, std::string(text).c_str(), &address) == 1;
}

int32_t parseSeconds(std::string_view text, int32_t maxSeconds, const std::string& what) {
  auto fail = [&]() -> int32_t {
    throw UsageError(format("%s takes seconds from 0 to %d (for example 2 or 0.5), not '%s'",
                            what.c_str(), maxSeconds, std::string(text).c_str()));
  };
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || whole.size() > 6 || fraction.size() > 3) fail();
  if (point != std::string_view::npos && fraction.empty()) fail();
  int64_t ms = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') fail();
    ms = ms * 10 + (c - '0');
  }
  ms *= 1000;
  int64_t scale = 100;
  for (char c : fraction) {
    if (c < '0' || c > '9') fail();
    ms += (c - '0') * scale;
    scale /= 10;
  }
  if (ms > int64_t{maxSeconds} * 1000) fail();
  return static_cast<int32_t>(ms);
}

}  // namespace mirelo::shell
