// Before any test runs, MIRELO_REGISTRY names a scratch file, so that even a
// test that forgets its fixture never touches the user's settings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/devices/temp_registry.h"

namespace {

class ScratchRegistry : public ::testing::Environment {
 public:
  void SetUp() override {
    directory_ = std::make_unique<mirelo::test::TempDirectory>();
    setenv("MIRELO_REGISTRY", (directory_->path() / "scratch.db").c_str(), 1);
  }
  void TearDown() override { directory_.reset(); }

 private:
  std::unique_ptr<mirelo::test::TempDirectory> directory_;
};

[[maybe_unused]] ::testing::Environment* const kScratch =
    ::testing::AddGlobalTestEnvironment(new ScratchRegistry);

}  // namespace
