#pragma once
// Files a command reads or writes are checked before anything is sent to a
// terminal, so that a wrong path costs no exchange. Messages name the path.
#include <cstdint>
#include <string>

namespace mirelo::shell {

// A regular file that opens for reading; its size. what names it in the
// message ("firmware file"). Raises std::runtime_error.
uintmax_t requireReadableFile(const std::string& path, const char* what);
// A file that can be created or replaced: not a folder, writable when it
// exists, in a folder that exists and is writable. Raises std::runtime_error.
void requireWritableFile(const std::string& path, const char* what);

}  // namespace mirelo::shell
