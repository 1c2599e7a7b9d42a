// Closes a window when the process gets SIGINT, SIGTERM or SIGHUP (its
// terminal gone), exactly as its close button does: the signal handler only
// writes a byte into a socket pair, and the window's thread reads it and
// closes the window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace kestrune {

// Set on the window before a signal closes it: nobody is there to answer a
// question, so the window closes without asking.
constexpr const char *UnaskedCloseProperty = "kestruneCloseUnasked";

class SignalCloser : public QObject {
public:
  // One at a time per process.
  explicit SignalCloser(QWidget *window);
  ~SignalCloser() override;

  // Whether the handlers are in place.
  bool Active() const { return Notifier != nullptr; }

private:
  void SignalArrived();
  QPointer<QWidget> Window;
  QSocketNotifier *Notifier = nullptr;
};

} // namespace kestrune
