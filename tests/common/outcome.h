#pragma once
// What a host would see for an action: the code and text of the failure it
// raised, or 0 "Ошибок нет".
#include <functional>

#include "driver/errors/driver_error.h"

namespace mirelo::test {

inline ResultOf outcome(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return resultOf(e);
  }
  return resultOk();
}

}  // namespace mirelo::test
