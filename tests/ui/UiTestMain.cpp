// The window's tests run on Qt's offscreen platform: no display needed.
// The Windows build has no offscreen platform; under Wine its tests use
// the windows one, on the X display the test command gives Wine (Wine
// passes no QT_ variable on to Windows programs, so it is decided here).
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv) {
#ifdef _WIN32
  kestrune::ChoosePlatform();
#else
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  kestrune::PrepareApplication(application);
  return RUN_ALL_TESTS();
}
