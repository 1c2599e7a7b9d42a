#include "ui/QtChannelPanel.h"

#include "platform/PortAccessHint.h"

#include <QApplication>
#include <QMetaObject>
#include <QPalette>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace kestrune {

QColor BusyStatusColour() { return QApplication::palette().color(QPalette::Button); }
QColor DoneStatusColour() { return QColor(0xA6, 0xCA, 0xF0); }

QtChannelPanel::QtChannelPanel(QObject *guiContext, QProgressBar *progressBar,
                               QStatusBar *statusBar, const SpeedMirror &speeds)
    : GuiContext(guiContext), ProgressBar(progressBar), StatusBar(statusBar), Speeds(speeds) {
  ProgressMaximum = static_cast<uint32_t>(progressBar->maximum());
  ProgressPosition = static_cast<uint32_t>(progressBar->value());
}

std::string QtChannelPanel::PortText() {
  std::lock_guard lock(PortMutex);
  return Port;
}

void QtChannelPanel::SetPortText(const std::string &text) {
  std::lock_guard lock(PortMutex);
  Port = text;
}

SpeedButtons QtChannelPanel::SpeedButtonStates() {
  SpeedButtons buttons;
  buttons.Radio920Button = Speeds.Radio920Button;
  buttons.Radio230Button = Speeds.Radio230Button;
  buttons.Radio460Button = Speeds.Radio460Button;
  return buttons;
}

void QtChannelPanel::SetProgressMaximum(uint32_t maximum) {
  ProgressMaximum = maximum;
  PostProgress();
}

void QtChannelPanel::SetProgressPosition(uint32_t position) {
  ProgressPosition = position;
  PostProgress();
}

void QtChannelPanel::PostProgress() {
  if (ProgressPosted.exchange(true))
    return;
  QMetaObject::invokeMethod(GuiContext, [this] { ApplyProgress(); }, Qt::QueuedConnection);
}

void QtChannelPanel::ApplyProgress() {
  // Cleared before reading, so that a value set meanwhile posts again.
  ProgressPosted = false;
  if (!ProgressBar)
    return;
  ProgressBar->setMaximum(static_cast<int>(ProgressMaximum.load()));
  ProgressBar->setValue(static_cast<int>(ProgressPosition.load()));
}

void QtChannelPanel::ResetProgress() {
  ProgressPosition = static_cast<uint32_t>(ProgressBar->minimum());
  ProgressBar->setValue(ProgressBar->minimum());
}

namespace {

// One call handed to the window's thread. The worker waits on it; it is
// released when the call has run, or when Qt drops the call unrun (its
// receiver gone), so a worker can never wait for a call that will not come.
struct PendingGuiCall {
  std::mutex Mutex;
  std::condition_variable Finished;
  bool Done = false;
};

struct ReleaseOnDestruction {
  explicit ReleaseOnDestruction(std::shared_ptr<PendingGuiCall> call) : Call(std::move(call)) {}
  ReleaseOnDestruction(const ReleaseOnDestruction &) = delete;
  ReleaseOnDestruction &operator=(const ReleaseOnDestruction &) = delete;
  std::shared_ptr<PendingGuiCall> Call;
  ~ReleaseOnDestruction() {
    std::lock_guard lock(Call->Mutex);
    Call->Done = true;
    Call->Finished.notify_all();
  }
};

} // namespace

void QtChannelPanel::RunOnGuiThread(const std::function<void()> &fn) {
  if (QThread::currentThread() == GuiContext->thread()) {
    fn();
    return;
  }
  // A queued call plus our own wait rather than a blocking-queued one: the
  // hand-over of everything the worker wrote before the call, and of what
  // the call wrote, then goes through this mutex in both directions.
  auto call = std::make_shared<PendingGuiCall>();
  auto release = std::make_shared<ReleaseOnDestruction>(call);
  std::unique_lock lock(call->Mutex);
  QMetaObject::invokeMethod(
      GuiContext,
      [&fn, release = std::move(release)]() mutable {
        { std::lock_guard handOver(release->Call->Mutex); }
        fn();
        release.reset();
      },
      Qt::QueuedConnection);
  call->Finished.wait(lock, [&] { return call->Done; });
}

void QtChannelPanel::SetStatusText(const std::string &text) {
  if (!StatusBar)
    return;
  StatusBar->showMessage(QString::fromStdString(text));
  // The status bar keeps its text; the way out of a refused port is its tool tip.
  StatusBar->setToolTip(QString::fromStdString(PortAccessHint(text)));
}

void QtChannelPanel::SetStatusColour(StatusColour colour) {
  if (!StatusBar)
    return;
  QPalette palette = StatusBar->palette();
  palette.setColor(QPalette::Window,
                   colour == StatusColour::Busy ? BusyStatusColour() : DoneStatusColour());
  StatusBar->setPalette(palette);
  StatusBar->setAutoFillBackground(true);
}

} // namespace kestrune
