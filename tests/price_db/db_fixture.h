#pragma once
// One PostgreSQL server per test program, made on first use and stopped
// after the last test; every test works in a database of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>

#include "pg_server.h"

namespace mirelo::test {

inline std::unique_ptr<PgServer>& serverSlot() {
  static std::unique_ptr<PgServer> server;
  return server;
}

inline PgServer& pgServer() {
  if (!serverSlot()) serverSlot() = std::make_unique<PgServer>();
  return *serverSlot();
}

struct PgServerEnvironment : testing::Environment {
  void TearDown() override { serverSlot().reset(); }
};
inline const bool kPgServerEnvironment =
    (testing::AddGlobalTestEnvironment(new PgServerEnvironment), true);

// A fresh database named after the running test.
inline std::string createTestDatabase() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("t_") + info->test_suite_name() + "_" + info->name();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
    return std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '_';
  });
  name = name.substr(0, 60);
  pgServer().exec("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  pgServer().exec("CREATE DATABASE " + name);
  return name;
}

inline std::string readSourceFile(const std::string& relative) {
  std::ifstream file(std::string(MIRELO_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace mirelo::test
