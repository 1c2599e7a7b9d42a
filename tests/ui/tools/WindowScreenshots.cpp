// Takes the pictures of the window for docs/: opens it as the program does
// (real loader, real settings under the current XDG home, ports from
// KESTRUNE_PORTS), waits for the image and presses Start All.
//
//   ui_window_screenshots MID.png [IMAGE]
//       grabs the window once a channel is sending its fifth block, then
//       closes it (used at 200 % scaling);
//   ui_window_screenshots MID.png END.png LOG.png OPTIONS.png FAULT_PORTS [IMAGE]
//       also lets that run end, puts the channels on FAULT_PORTS (colon-
//       separated, one per channel: handsets with faults), presses Start All
//       again, stops channel 6 once the others have ended, grabs the window
//       and then the log view of channel 2; last, with every channel idle,
//       sets Repeat with a swap silence of 2.5 s and grabs the controls that
//       serve all channels (speed, repeat, file and run options);
//   ... [IMAGE REPEAT.png REPEAT_PORT RECORDS.png]
//       then, with Repeat still set, starts channel 1 alone on REPEAT_PORT
//       (a handset whose second unit fails and whose units are swapped),
//       grabs the window while the channel waits after that failed unit,
//       stops it, and grabs the run records dialog.
#include "engine/ChannelRow.h"
#include "image/MotLoaderThread.h"
#include "ui/Application.h"
#include "ui/ChannelLogDialog.h"
#include "ui/KestruneUiForm.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <cstdio>

using namespace kestrune;

namespace {

// Some channel is sending its fifth block or later.
bool WellIntoBlocks(QWidget &form) {
  for (QStatusBar *status : form.findChildren<QStatusBar *>()) {
    QString text = status->currentMessage();
    if (text.startsWith("Sending block ") && text.mid(14).split(' ').front().toInt() >= 5)
      return true;
  }
  return false;
}

bool Save(QWidget &widget, const QString &path, const char *what) {
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s picture: %s\n", what, qPrintable(path));
  return true;
}

QPushButton *Button(QWidget &form, const QString &name) {
  return form.findChild<QPushButton *>(name);
}

// The part of the form from the speed choice to the run options.
QRect StationControls(QWidget &form) {
  QRect area;
  for (const char *name : {"RadioGroup1", "StopAllButton", "TypePageControl"}) {
    auto *widget = form.findChild<QWidget *>(name);
    area |= QRect(widget->mapTo(&form, QPoint(0, 0)), widget->size());
  }
  return area.adjusted(-6, -6, 6, 6) & form.rect();
}

bool SaveStationControls(QWidget &form, const QString &path) {
  form.findChild<QCheckBox *>("RepeatCheckBox")->setChecked(true);
  form.findChild<QDoubleSpinBox *>("SwapSilenceSpinBox")->setValue(2.5);
  QTest::qWait(200);
  if (!form.grab(StationControls(form)).save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
  }
  std::printf("station controls picture: %s\n", qPrintable(path));
  return true;
}

// Channel 1 repeating on port: grabs the window once its second unit's
// verdict is shown while it waits for the next unit.
bool SaveRepeatWait(TKestruneUiForm &form, const QString &port, const QString &path) {
  form.ResetCounts(); // the units are numbered from the channel's counts
  form.findChild<QComboBox *>(QString::fromStdString(ControlName(ChannelRows[0], "PortCBox")))
      ->setCurrentText(port);
  Button(form, QString::fromStdString(ControlName(ChannelRows[0], "StartButton")))->click();
  auto *verdict = form.findChild<QLabel *>(
      QString::fromStdString(ControlName(ChannelRows[0], "VerdictLabel")));
  const bool waiting = verdict != nullptr && QTest::qWaitFor([&] {
    return verdict->isVisible() && verdict->text().startsWith("Unit 2 FAILED");
  }, 120000);
  if (!waiting) {
    std::fprintf(stderr, "channel 1 did not show its second unit failed\n");
    return false;
  }
  // Stop All has the keyboard focus, to show its frame.
  form.activateWindow();
  Button(form, "StopAllButton")->setFocus(Qt::TabFocusReason);
  QTest::qWait(150);
  const bool saved = Save(form, path, "repeat wait");
  Button(form, "StopAllButton")->click();
  return QTest::qWaitFor([&] { return form.AllChannelsIdle(); }, 30000) && saved;
}

// The dialog is modal: it is grabbed and closed from a timer while it runs.
bool SaveRecordsDialog(TKestruneUiForm &form, const QString &path) {
  bool saved = false;
  QTimer::singleShot(800, &form, [&] {
    QWidget *dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) {
      std::fprintf(stderr, "the run records dialog did not open\n");
      return;
    }
    saved = Save(*dialog, path, "run records");
    dialog->close();
  });
  form.findChild<QAction *>("RecordsAction")->trigger();
  return saved;
}

} // namespace

int main(int argc, char **argv) {
  KestruneApplication application(argc, argv);
  PrepareApplication(application);
  QStringList args = application.arguments();
  const bool full = args.size() >= 6;
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: %s MID.png [END.png LOG.png OPTIONS.png FAULT_PORTS] [IMAGE]\n",
                 argv[0]);
    return 2;
  }
  FormEnvironment environment;
  environment.Arguments = {args[0]};
  const int imageArgument = full ? 6 : 2;
  if (args.size() > imageArgument)
    environment.Arguments << args[imageArgument];
  environment.ProgramPath = application.applicationFilePath();
  environment.LoaderRoutine = [] { return MotLoaderThread(); };
  TKestruneUiForm form(std::move(environment));
  form.show();
  if (!QTest::qWaitFor([&] { return !form.ImageLoadRunning(); }, 60000) ||
      !QTest::qWaitFor([&] { return form.ImageReadyValue() == 1; }, 1000)) {
    std::fprintf(stderr, "the image did not load\n");
    return 1;
  }
  form.ResetCounts();
  QTest::qWait(200);
  Button(form, "StartAllButton")->click();
  // Taken at the time-out too: a picture of a slow run is still a picture.
  (void)QTest::qWaitFor([&] { return WellIntoBlocks(form) || form.AllChannelsIdle(); }, 120000);
  QTest::qWait(400); // one more turn of the progress texts
  if (!Save(form, args[1], "mid-run"))
    return 1;
  if (!full) {
    form.close();
    return 0;
  }
  if (!QTest::qWaitFor([&] { return form.AllChannelsIdle(); }, 300000)) {
    std::fprintf(stderr, "the channels did not end\n");
    return 1;
  }

  // The same channels on handsets with faults.
  QStringList faultPorts = args[5].split(':', Qt::SkipEmptyParts);
  for (int channel = 0; channel < ChannelCount && channel < faultPorts.size(); ++channel) {
    auto *ports = form.findChild<QComboBox *>(
        QString::fromStdString(ControlName(ChannelRows[channel], "PortCBox")));
    ports->setCurrentText(faultPorts[channel]);
  }
  Button(form, "StartAllButton")->click();
  const int stopped = 5; // channel 6 waits for a handset that is never switched on
  if (!QTest::qWaitFor([&] {
        for (int channel = 0; channel < ChannelCount; ++channel)
          if (channel != stopped && form.Worker(channel) != nullptr)
            return false;
        return true;
      }, 300000)) {
    std::fprintf(stderr, "the channels did not end\n");
    return 1;
  }
  Button(form, QString::fromStdString(ControlName(ChannelRows[stopped], "StopButton")))->click();
  if (!QTest::qWaitFor([&] { return form.AllChannelsIdle(); }, 30000)) {
    std::fprintf(stderr, "channel 6 did not stop\n");
    return 1;
  }
  QTest::qWait(400);
  if (!Save(form, args[2], "end"))
    return 1;
  ChannelLogDialog *log = form.ShowLog(1);
  QTest::qWait(400);
  if (!Save(*log, args[3], "log view"))
    return 1;
  log->close();
  if (!SaveStationControls(form, args[4]))
    return 1;
  if (args.size() >= 10) {
    if (!SaveRepeatWait(form, args[8], args[7]) || !SaveRecordsDialog(form, args[9]))
      return 1;
  }
  form.close();
  return 0;
}
