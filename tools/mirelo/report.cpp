#include "tools/mirelo/report.h"

#include "tools/mirelo/json_output.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

void Report::line(const std::string& text) {
  out_ << text << '\n';
  out_.flush();
}

void Report::read(const std::string& name, const Variant& value) {
  if (json_)
    line(JsonObject().textUtf8("read", name).raw("value", jsonValue(value)).str());
  else
    line(name + "=" + formatValue(value));
}

void Report::readFailed(const std::string& name, const std::u16string& message) {
  failed("read", name, message);
}

void Report::called(const std::string& name, int32_t code, const std::u16string& description) {
  if (json_)
    line(JsonObject()
             .textUtf8("call", name)
             .number("code", code)
             .text("description", description)
             .str());
  else
    line(name + ": " + std::to_string(code) + " " + escapeText(description));
}

void Report::done(const std::string& name) {
  if (json_)
    line(JsonObject().textUtf8("call", name).boolean("done", true).str());
  else
    line(name + ": done");
}

void Report::callFailed(const std::string& name, const std::u16string& message) {
  failed("call", name, message);
}

void Report::writeFailed(const std::string& name, const std::u16string& message) {
  failed("write", name, message);
}

void Report::failed(const char* what, const std::string& name, const std::u16string& message) {
  if (json_)
    line(JsonObject().textUtf8(what, name).text("error", message).str());
  else
    line(name + ": error: " + escapeText(message));
}

void Report::dataEvent(int32_t senderId, const std::u16string& data) {
  if (json_)
    line(JsonObject()
             .textUtf8("event", "DataEvent")
             .number("SenderID", senderId)
             .text("Data", data)
             .str());
  else
    line("DataEvent: SenderID=" + std::to_string(senderId) + " Data=" + escapeText(data));
}

void Report::logEvent(const std::u16string& data) {
  if (json_)
    line(JsonObject().textUtf8("event", "LogEvent").text("Data", data).str());
  else
    line("LogEvent: " + escapeText(data));
}

}  // namespace mirelo::shell
