#pragma once
// Runs items on one driver object through its IDispatch, as a host does:
// "Name=Value" writes a property, "Name" calls a method or reads a
// property, "wait=MS" runs the thread's message loop for MS milliseconds.
// Results and events go to a Report.
#include <memory>
#include <string_view>

#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "tools/mirelo/event_sink.h"
#include "tools/mirelo/member_catalog.h"
#include "tools/mirelo/report.h"

namespace mirelo::shell {

struct Item {
  enum class Kind { Read, Write, Call, Wait };
  Kind kind = Kind::Read;
  const MemberInfo* member = nullptr;  // null for Wait
  Variant value;                       // Write
  int waitMs = 0;                      // Wait
};

// Runs the calling thread's message loop for ms milliseconds.
void runMessageLoopFor(int ms);

class ItemRunner {
 public:
  // Takes a reference to the object, reads its type information and connects
  // a sink to its events that prints them. Raises std::runtime_error.
  ItemRunner(IDispatch& object, Report& report);
  // Disconnects the sink, then releases the object (which saves its settings
  // when that was the last reference).
  ~ItemRunner();
  ItemRunner(const ItemRunner&) = delete;
  ItemRunner& operator=(const ItemRunner&) = delete;

  // One item from its UTF-8 text (blanks around the name are ignored; the
  // value is everything after the first '='). Raises UsageError for an
  // unknown member, a value that does not parse, a value for a method or a
  // read-only property.
  Item parse(std::string_view text) const;
  // Runs the item and prints its line (a successful write prints nothing).
  // False when a method returned a code other than 0 or a call failed.
  bool run(const Item& item);

  // Delivers whatever the thread's message loop holds, without waiting.
  void processMessages();
  // Runs the message loop for ms milliseconds.
  void runMessageLoop(int ms);

  const MemberCatalog& catalog() const { return catalog_; }

 private:
  struct Outcome {
    bool ok = false;
    Variant value;
    std::u16string error;
  };
  Outcome invoke(DISPID dispid, WORD flags, const Variant* value);

  ComPtr<IDispatch> object_;
  Report& report_;
  MemberCatalog catalog_;
  const MemberInfo* description_ = nullptr;  // ResultCodeDescription
  ComPtr<IVistelEvents> sink_;
  std::unique_ptr<EventConnection> connection_;
};

}  // namespace mirelo::shell
