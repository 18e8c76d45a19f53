#pragma once
// Running system utilities hidden, as the driver does to drop stale entries of
// the address-resolution cache after a terminal changed its address.
#include <string>
#include <vector>

namespace mirelo {

// Starts the commands one after another in the background and returns without
// waiting for them. Each command is a program looked up on PATH followed by
// its arguments. Standard input, output and error are /dev/null, no other
// descriptor is inherited, and the background job is detached from the
// caller (double fork), so nothing is left to reap. Their outcome is not
// reported; false only when the background job could not be started.
bool runDetached(const std::vector<std::vector<std::string>>& commands);

}  // namespace mirelo
