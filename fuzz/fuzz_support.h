#pragma once
// Shared by the fuzz targets: reading the fuzzer's bytes in pieces, and a
// scratch folder for targets whose parser reads a file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace mirelo::fuzz {

// The input taken apart front to back; past the end every read gives zero.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  uint8_t byte() {
    if (rest_.empty()) return 0;
    uint8_t b = static_cast<uint8_t>(rest_[0]);
    rest_.remove_prefix(1);
    return b;
  }
  // At most n bytes.
  std::string_view bytes(size_t n) {
    std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return taken;
  }
  // Up to the next `separator` (dropped), or the rest.
  std::string_view until(char separator) {
    size_t end = rest_.find(separator);
    std::string_view taken = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return taken;
  }
  std::string_view rest() {
    std::string_view taken = rest_;
    rest_ = {};
    return taken;
  }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// A folder of this process's own, in memory where the system has /dev/shm
// (the atomic writes' fsync then costs nothing), removed at exit.
inline const std::string& scratchFolder() {
  // Never destroyed: the exit handler that removes it runs after the
  // destructors of statics made later.
  static const std::string& folder = *[] {
    for (std::string base : {"/dev/shm", "/tmp"}) {
      auto* pattern = new std::string(base + "/mirelo-fuzz-XXXXXX");
      if (mkdtemp(pattern->data())) {
        std::atexit([] {
          std::error_code ignored;
          std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return pattern;
      }
      delete pattern;
    }
    return new std::string("/tmp");
  }();
  return folder;
}

inline std::string writeScratch(const std::string& name, std::string_view bytes) {
  std::string path = scratchFolder() + "/" + name;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

// A finding that is no crash: a property the parser must keep.
#define FUZZ_REQUIRE(condition)                                                             \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

}  // namespace mirelo::fuzz
