// Two figures of the desktop window, on Qt's offscreen platform:
//  - the time from start to the window shown, with eight ports to probe
//    (virtual handsets' pseudo-terminals), first start and a later start;
//  - the event loop's latency while eight channels stream an image at full
//    speed into eight virtual handsets (a 5 ms timer's lateness), with the
//    whole-run progress texts updating and the log view open and following
//    a channel.
//   ui_window_bench [IMAGE_KIB]
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "ui/Application.h"
#include "ui/ChannelLogDialog.h"
#include "ui/KestruneUiForm.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kestrune;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::unique_ptr<TKestruneUiForm> OpenWindow(double &shownMs) {
  auto begin = Clock::now();
  FormEnvironment environment;
  environment.Arguments = {"kestrune"};
  environment.LoaderRoutine = [] { return MotLoaderThread(); };
  auto form = std::make_unique<TKestruneUiForm>(std::move(environment));
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get()))
    std::fprintf(stderr, "the window was not exposed\n");
  shownMs = Ms(Clock::now() - begin);
  return form;
}

} // namespace

int main(int argc, char **argv) {
  auto processStart = Clock::now();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int imageKib = argc > 1 ? std::atoi(argv[1]) : 4096;
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());

  std::vector<std::unique_ptr<handset::VirtualHandset>> handsets;
  QByteArray ports;
  for (int i = 0; i < ChannelCount; ++i) {
    handsets.push_back(std::make_unique<handset::VirtualHandset>());
    if (!handsets.back()->StartOnPty()) {
      std::fprintf(stderr, "handset: %s\n", handsets.back()->ErrorText().c_str());
      return 1;
    }
    ports += QByteArray::fromStdString(handsets.back()->DevicePath()) + ":";
  }
  qputenv("KESTRUNE_PORTS", ports);

  KestruneApplication application(argc, argv);
  PrepareApplication(application);
  double appMs = Ms(Clock::now() - processStart);

  double firstMs = 0, laterMs = 0;
  OpenWindow(firstMs)->close();
  auto form = OpenWindow(laterMs);
  std::printf("window shown, 8 ports to probe: first start %.1f ms, later start %.1f ms "
              "(+ %.1f ms process and application set-up; goal < 500 ms)\n",
              firstMs, laterMs, appMs);

  QString image = home.path() + "/image.bin";
  QFile out(image);
  out.open(QIODevice::WriteOnly);
  QByteArray block(1024, '\0');
  for (int k = 0; k < imageKib; ++k) {
    for (int i = 0; i < block.size(); ++i)
      block[i] = char((k * 31 + i * 7) & 0xFF);
    out.write(block);
  }
  out.close();
  form->StartMotLoad(image);
  if (!QTest::qWaitFor([&] { return !form->ImageLoadRunning(); }, 60000) ||
      !QTest::qWaitFor([&] { return form->ImageReadyValue() == 1; }, 1000)) {
    std::fprintf(stderr, "the image did not load\n");
    return 1;
  }
  for (int channel = 0; channel < ChannelCount; ++channel)
    form->findChild<QComboBox *>(QString::fromStdString(ControlName(ChannelRows[channel], "PortCBox")))
        ->setCurrentText(QString::fromStdString(handsets[channel]->DevicePath()));

  // A 5 ms timer: how late each tick comes is what an operator would feel.
  std::vector<double> lateness;
  QElapsedTimer clock;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  qint64 last = 0;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    qint64 now = clock.nsecsElapsed();
    lateness.push_back(std::max(0.0, (now - last) / 1e6 - 5.0));
    last = now;
  });
  // The log view follows channel 1 while the channels run.
  form->ShowLog(0);
  auto begin = Clock::now();
  form->findChild<QPushButton *>("StartAllButton")->click();
  clock.start();
  probe.start(5);
  bool ended = QTest::qWaitFor([&] { return form->AllChannelsIdle(); }, 600000);
  probe.stop();
  double runMs = Ms(Clock::now() - begin);
  if (!ended || lateness.empty()) {
    std::fprintf(stderr, "the channels did not end\n");
    return 1;
  }
  std::sort(lateness.begin(), lateness.end());
  double p99 = lateness[lateness.size() * 99 / 100];
  std::printf("eight channels, %d KiB each: %.0f ms, %.1f MiB/s in all\n", imageKib, runMs,
              8.0 * imageKib / 1024.0 / (runMs / 1000.0));
  std::printf("event loop latency while they stream (progress texts and log view updating): "
              "median %.2f ms, p99 %.2f ms, max %.2f ms over %zu ticks (goal < 50 ms)\n",
              lateness[lateness.size() / 2], p99, lateness.back(), lateness.size());
  size_t logLines = 0;
  for (int channel = 0; channel < ChannelCount; ++channel)
    logLines += form->Log(channel).Size();
  std::printf("status texts logged: %zu over eight channels\n", logLines);

  // What the additions cost the window's thread, apart from the machine's
  // load: a refresh of the eight progress texts (every 200 ms), a status
  // text into a full log, and the log view taking 1000 new lines.
  constexpr int Refreshes = 2000;
  auto refreshBegin = Clock::now();
  for (int i = 0; i < Refreshes; ++i)
    form->RefreshRunView();
  double refreshUs = Ms(Clock::now() - refreshBegin) * 1000.0 / Refreshes;
  ChannelLog full;
  for (size_t i = 0; i < ChannelLog::DefaultCapacity; ++i)
    full.Append("Sending block " + std::to_string(i) + " of 512");
  constexpr int Appends = 100000;
  auto appendBegin = Clock::now();
  for (int i = 0; i < Appends; ++i)
    full.Append(" Flash Erasing Sector 77/131");
  double appendUs = Ms(Clock::now() - appendBegin) * 1000.0 / Appends;
  ChannelLogDialog *view = form->ShowLog(0);
  view->ShowChannel(1);
  // Idle channels: each Stop and Stop All is a new status text, and a log line.
  for (int i = 0; i < 500; ++i) {
    form->StopClick(0);
    form->StopAllClick();
  }
  view->ShowChannel(0);
  auto viewBegin = Clock::now();
  view->Refresh();
  double viewMs = Ms(Clock::now() - viewBegin);
  std::printf("progress texts of eight channels: %.1f us a refresh; a status text into a full "
              "log: %.2f us; log view taking 1000 new lines: %.1f ms\n",
              refreshUs, appendUs, viewMs);
  form->close();
  return 0;
}
