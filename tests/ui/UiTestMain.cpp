// The window's tests run on Qt's offscreen platform: no display needed.
// Under Wine, where Qt has no offscreen platform, QT_QPA_PLATFORM names the
// windows one.
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  kestrune::PrepareApplication(application);
  return RUN_ALL_TESTS();
}
