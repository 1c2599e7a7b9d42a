#include "ui/QtChannelPanel.h"

#include "ui/WindowThreadNudge.h"

#include <QApplication>
#include <QPalette>
#include <QProgressBar>
#include <QStatusBar>

namespace kestrune {

QColor BusyStatusColour() { return QApplication::palette().color(QPalette::Button); }
QColor DoneStatusColour() { return QColor(0xA6, 0xCA, 0xF0); }

QtChannelPanel::QtChannelPanel(QProgressBar *progressBar, QStatusBar *statusBar,
                               const SpeedMirror &speeds)
    : GuiThread(std::this_thread::get_id()), ProgressBar(progressBar), StatusBar(statusBar),
      Speeds(speeds), Nudge(std::make_unique<WindowThreadNudge>([this] { Serve(); })) {
  ProgressMaximum = static_cast<uint32_t>(progressBar->maximum());
  ProgressPosition = static_cast<uint32_t>(progressBar->value());
  Calls.SetWakeHook([this] { Nudge->Post(); });
}

QtChannelPanel::~QtChannelPanel() { Calls.Close(); }

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
  if (!ProgressPosted.exchange(true))
    Calls.Wake();
}

void QtChannelPanel::SetProgressPosition(uint32_t position) {
  ProgressPosition = position;
  if (!ProgressPosted.exchange(true))
    Calls.Wake();
}

void QtChannelPanel::Serve() {
  Calls.ServePending();
  if (ProgressPosted)
    ApplyProgress();
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

void QtChannelPanel::RunOnGuiThread(const std::function<void()> &fn) {
  if (std::this_thread::get_id() == GuiThread) {
    fn();
    return;
  }
  Calls.RunAndWait(fn);
}

void QtChannelPanel::SetStatusText(const std::string &text) {
  if (StatusBar)
    StatusBar->showMessage(QString::fromStdString(text));
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
