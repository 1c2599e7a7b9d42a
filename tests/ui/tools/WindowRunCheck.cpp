// Drives the window as an operator would, for the Windows build under Wine
// (tests/wine/window-test.sh): opens it as the program does (real loader,
// real settings in the registry, the system's port list), then
//
//   ui_window_run_check run PICTURE IMAGE PORT_A PORT_B SILENT_PORT
//       checks that the eight channel panels are there and the Korean texts
//       can be drawn, prints the ports the lists offer, puts channels 1 and
//       2 on PORT_A and PORT_B and channel 3 on SILENT_PORT (a handset that
//       is never switched on, so its panel shows the Korean calling text),
//       leaves the others without a port, presses Start All at 920K, waits
//       for channels 1 and 2 to end, grabs the window into PICTURE, presses
//       Stop All and closes the window (which saves the settings);
//   ui_window_run_check settings
//       prints the file and the ports of channels 1 to 3 the window shows
//       at its start, as the settings gave them back, and closes it.
//
// Each check prints one line; the exit status is 0 only when all passed.
#include "engine/ChannelRow.h"
#include "image/MotLoaderThread.h"
#include "ui/Application.h"
#include "ui/FontCheck.h"
#include "ui/KestruneUiForm.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

#include <cstdio>

using namespace kestrune;

namespace {

template <typename T> T *Control(QWidget &form, int channel, const char *kind) {
  return form.findChild<T *>(QString::fromStdString(ControlName(ChannelRows[channel], kind)));
}

bool Check(bool ok, const QString &what) {
  std::printf("%s %s\n", ok ? "ok:" : "FAILED:", qPrintable(what));
  std::fflush(stdout);
  return ok;
}

QString StatusText(QWidget &form, int channel) {
  auto *status = Control<QStatusBar>(form, channel, "StatusBar");
  return status ? status->currentMessage() : QString();
}

QString OutcomeText(QWidget &form, int channel) {
  auto *outcome = Control<QLabel>(form, channel, "OutcomeLabel");
  return outcome ? outcome->text() : QString();
}

bool ShowsEightPanels(QWidget &form) {
  int shown = 0;
  for (int channel = 0; channel < ChannelCount; ++channel) {
    auto *ports = Control<QComboBox>(form, channel, "PortCBox");
    auto *start = Control<QPushButton>(form, channel, "StartButton");
    if (ports && start && ports->isVisible() && start->isVisible())
      ++shown;
  }
  return Check(shown == ChannelCount, QString("%1 channel panels shown").arg(shown));
}

QStringList OfferedPorts(QComboBox &ports) {
  QStringList names;
  for (int i = 0; i < ports.count(); ++i)
    names << ports.itemData(i).toString();
  return names;
}

bool Choose(QComboBox &ports, const QString &name) {
  int index = ports.findData(name);
  ports.setCurrentIndex(index);
  return index >= 0;
}

int Run(TKestruneUiForm &form, const QStringList &args) {
  const QString picture = args[2];
  const QStringList ports{args[4], args[5], args[6]};
  bool ok = ShowsEightPanels(form);
  QString missing = UndrawableCharacters(KoreanStatusTexts(), form.font());
  ok &= Check(missing.isEmpty(), "Korean texts drawable" +
                                     (missing.isEmpty() ? QString() : ", missing: " + missing));
  QStringList offered = OfferedPorts(*Control<QComboBox>(form, 0, "PortCBox"));
  std::printf("ports listed: %s\n", qPrintable(offered.join(' ')));
  for (const QString &port : ports)
    ok &= Check(offered.contains(port), port + " listed");
  for (int channel = 0; channel < ChannelCount; ++channel) {
    auto *list = Control<QComboBox>(form, channel, "PortCBox");
    if (channel < ports.size())
      Choose(*list, ports[channel]);
    else
      list->setCurrentIndex(-1);
  }
  form.findChild<QRadioButton *>("Radio920Button")->setChecked(true);
  if (!QTest::qWaitFor([&] { return !form.ImageLoadRunning(); }, 60000) ||
      !Check(form.ImageReadyValue() == 1, "image loaded"))
    return 1;
  form.ResetCounts();
  QTest::qWait(200);
  form.findChild<QPushButton *>("StartAllButton")->click();
  const bool ended = QTest::qWaitFor(
      [&] { return form.Worker(0) == nullptr && form.Worker(1) == nullptr; }, 180000);
  ok &= Check(ended, "channels 1 and 2 ended");
  const QString calling = QString::fromUtf8("전원 On/Reset Mobile");
  ok &= Check(QTest::qWaitFor([&] { return StatusText(form, 2).contains(calling); }, 20000),
              "channel 3 shows " + calling);
  QTest::qWait(400);
  ok &= Check(form.grab().save(picture), "picture written: " + picture);
  for (int channel = 0; channel < ChannelCount; ++channel)
    std::printf("channel %d: %s | %s\n", channel + 1, qPrintable(OutcomeText(form, channel)),
                qPrintable(StatusText(form, channel)));
  for (int channel = 0; channel < 2; ++channel)
    ok &= Check(OutcomeText(form, channel) == "PASSED",
                QString("channel %1 PASSED").arg(channel + 1));
  form.findChild<QPushButton *>("StopAllButton")->click();
  ok &= Check(QTest::qWaitFor([&] { return form.AllChannelsIdle(); }, 30000), "Stop All");
  form.close();
  return ok ? 0 : 1;
}

int ShowSettings(TKestruneUiForm &form) {
  std::printf("file: %s\n", qPrintable(form.findChild<QLineEdit *>("FlashFileEdit")->text()));
  for (int channel = 0; channel < 3; ++channel)
    std::printf("channel %d port: %s\n", channel + 1,
                qPrintable(Control<QComboBox>(form, channel, "PortCBox")->currentData().toString()));
  form.close();
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  ChoosePlatform();
  KestruneApplication application(argc, argv);
  PrepareApplication(application);
  QStringList args = application.arguments();
  const bool run = args.size() == 7 && args[1] == "run";
  if (!run && !(args.size() == 2 && args[1] == "settings")) {
    std::fprintf(stderr, "usage: %s run PICTURE IMAGE PORT_A PORT_B SILENT_PORT | settings\n",
                 argv[0]);
    return 2;
  }
  FormEnvironment environment;
  environment.Arguments = {args[0]};
  if (run)
    environment.Arguments << args[3];
  environment.ProgramPath = application.applicationFilePath();
  environment.LoaderRoutine = [] { return MotLoaderThread(); };
  TKestruneUiForm form(std::move(environment));
  form.show();
  QTest::qWait(300);
  return run ? Run(form, args) : ShowSettings(form);
}
