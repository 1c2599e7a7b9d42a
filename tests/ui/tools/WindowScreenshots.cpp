// Takes the pictures of the window for docs/: opens it as the program does
// (real loader, real settings under the current XDG home, ports from
// KESTRUNE_PORTS), waits for the image, presses Start All, grabs the window
// once a channel is sending its third block and again when all have ended.
//   ui_window_screenshots MID.png END.png [IMAGE]
#include "image/MotLoaderThread.h"
#include "ui/Application.h"
#include "ui/KestruneUiForm.h"

#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <cstdio>

using namespace kestrune;

namespace {

// Some channel is sending its third block or later.
bool WellIntoBlocks(QWidget &form) {
  for (QStatusBar *status : form.findChildren<QStatusBar *>()) {
    QString text = status->currentMessage();
    if (text.startsWith("Sending block ") && text.mid(14).split(' ').front().toInt() >= 3)
      return true;
  }
  return false;
}

} // namespace

int main(int argc, char **argv) {
  KestruneApplication application(argc, argv);
  PrepareApplication(application);
  QStringList args = application.arguments();
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: %s MID.png END.png [IMAGE]\n", argv[0]);
    return 2;
  }
  FormEnvironment environment;
  environment.Arguments = {args[0]};
  if (args.size() > 3)
    environment.Arguments << args[3];
  environment.ProgramPath = application.applicationFilePath();
  environment.LoaderRoutine = [] { return MotLoaderThread(); };
  TKestruneUiForm form(std::move(environment));
  form.show();
  if (!QTest::qWaitFor([&] { return !form.ImageLoadRunning(); }, 60000) ||
      !QTest::qWaitFor([&] { return form.ImageReadyValue() == 1; }, 1000)) {
    std::fprintf(stderr, "the image did not load\n");
    return 1;
  }
  QTest::qWait(200);
  form.findChild<QPushButton *>("StartAllButton")->click();
  // Taken at the time-out too: a picture of a slow run is still a picture.
  (void)QTest::qWaitFor([&] { return WellIntoBlocks(form) || form.AllChannelsIdle(); }, 120000);
  form.grab().save(args[1]);
  std::printf("mid-run picture: %s\n", qPrintable(args[1]));
  if (!QTest::qWaitFor([&] { return form.AllChannelsIdle(); }, 300000)) {
    std::fprintf(stderr, "the channels did not end\n");
    return 1;
  }
  QTest::qWait(200);
  form.grab().save(args[2]);
  std::printf("end picture: %s\n", qPrintable(args[2]));
  form.close();
  return 0;
}
