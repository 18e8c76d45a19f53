#pragma once
// The output lines of the shell, as text or as JSON objects, one line each,
// flushed as soon as written (scripts read them through a pipe).
//
//   text                                   --json
//   Name=value                             {"read":"Name","value":...}
//   Name: code description                 {"call":"Name","code":n,"description":"..."}
//   AboutBox: done                         {"call":"AboutBox","done":true}
//   Name: error: message                   {"call"|"read"|"write":"Name","error":"..."}
//   DataEvent: SenderID=n Data=text        {"event":"DataEvent","SenderID":n,"Data":"..."}
//   LogEvent: text                         {"event":"LogEvent","Data":"..."}
#include <cstdint>
#include <ostream>
#include <string>

#include "platform/com/variant.h"

namespace mirelo::shell {

class Report {
 public:
  Report(std::ostream& out, bool json) : out_(out), json_(json) {}

  void read(const std::string& name, const Variant& value);
  void readFailed(const std::string& name, const std::u16string& message);
  void called(const std::string& name, int32_t code, const std::u16string& description);
  // A method without a result code that succeeded.
  void done(const std::string& name);
  void callFailed(const std::string& name, const std::u16string& message);
  void writeFailed(const std::string& name, const std::u16string& message);
  void dataEvent(int32_t senderId, const std::u16string& data);
  void logEvent(const std::u16string& data);

 private:
  void failed(const char* what, const std::string& name, const std::u16string& message);
  void line(const std::string& text);

  std::ostream& out_;
  bool json_;
};

}  // namespace mirelo::shell
