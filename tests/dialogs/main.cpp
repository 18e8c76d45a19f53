// The dialogs run on Qt's offscreen platform; each test makes its own
// scratch registry and terminal simulator.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "driver/dialogs/dialogs.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  mirelo::RegisterDialogs();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
