#pragma once
// A registry file of its own for each test, named by MIRELO_REGISTRY so that
// nothing a test does can reach the user's settings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry/registry.h"

namespace mirelo::test {

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mirelo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for its lifetime and restores the old state.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = std::make_unique<std::string>(old);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::unique_ptr<std::string> old_;
};

// Fixture: a fresh registry file named by MIRELO_REGISTRY, opened as registry.
class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest()
      : file_((directory_.path() / "registry.db").string()),
        env_("MIRELO_REGISTRY", file_.c_str()),
        registry(file_) {}

  const std::string& file() const { return file_; }

 private:
  TempDirectory directory_;
  std::string file_;
  ScopedEnv env_;

 protected:
  Registry registry;
};

}  // namespace mirelo::test
