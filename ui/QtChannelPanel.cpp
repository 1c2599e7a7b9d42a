#include "ui/QtChannelPanel.h"

#include <QApplication>
#include <QMetaObject>
#include <QPalette>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>

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

void QtChannelPanel::RunOnGuiThread(const std::function<void()> &fn) {
  if (QThread::currentThread() == GuiContext->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(GuiContext, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
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
