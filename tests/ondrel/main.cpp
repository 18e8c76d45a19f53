// The window tests run on Qt's offscreen platform, in a locale whose decimal
// separator is a comma, as the program's figures follow the system locale.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <clocale>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  QApplication application(argc, argv);
  // Only Qt's figures take the Russian locale; the C library stays plain.
  std::setlocale(LC_ALL, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
