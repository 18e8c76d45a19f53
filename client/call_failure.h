#pragma once
// What a host makes of a call to the driver object that failed at the
// platform level (a rejected property write, a failing SetDefaults): the
// driver's result code and text from the error information the object left,
// its help context and description. A failure that is not the driver's own
// (help context 0, or no error information) is -199 with the text found, or
// the status's own text.
#include <cstdint>
#include <string>

#include "platform/com/hresult.h"

namespace mirelo {

struct CallFailure {
  int32_t code;
  std::string text;  // Windows-1251
  bool described;    // the text is the object's, not the status's
};

// Takes (and clears) the calling thread's error information.
CallFailure takeCallFailure(HRESULT hr);
// Returns for a success status; raises EDriverError with takeCallFailure(hr).
void checkCall(HRESULT hr);

}  // namespace mirelo
