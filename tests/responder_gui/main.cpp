// The window tests run on Qt's offscreen platform with a scratch registry.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char pattern[] = "/tmp/kavrin-window-XXXXXX";
  std::string folder = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (folder + "/registry.db").c_str(), 1);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(folder);
  return result;
}
