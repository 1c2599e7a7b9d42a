#include "ui/SignalCloser.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kestrune {

#ifndef _WIN32
namespace {

int WakeFds[2] = {-1, -1};
struct sigaction PreviousInt;
struct sigaction PreviousTerm;
struct sigaction PreviousHup;

extern "C" void OnCloseSignal(int signalNumber) {
  int saved = errno;
  char byte = static_cast<char>(signalNumber);
  // Async-signal-safe; a full pipe means a close is already on its way.
  [[maybe_unused]] ssize_t n = ::write(WakeFds[1], &byte, 1);
  errno = saved;
}

} // namespace

SignalCloser::SignalCloser(QWidget *window) : QObject(window), Window(window) {
  if (WakeFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, WakeFds) != 0) {
    qWarning("Kestrune: SIGINT, SIGTERM and SIGHUP will not close the window");
    return;
  }
  ::fcntl(WakeFds[1], F_SETFL, O_NONBLOCK);
  ::fcntl(WakeFds[0], F_SETFL, O_NONBLOCK);
  Notifier = new QSocketNotifier(WakeFds[0], QSocketNotifier::Read, this);
  connect(Notifier, &QSocketNotifier::activated, this, &SignalCloser::SignalArrived);
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &PreviousInt);
  ::sigaction(SIGTERM, &action, &PreviousTerm);
  ::sigaction(SIGHUP, &action, &PreviousHup);
}

SignalCloser::~SignalCloser() {
  if (Notifier == nullptr)
    return;
  ::sigaction(SIGINT, &PreviousInt, nullptr);
  ::sigaction(SIGTERM, &PreviousTerm, nullptr);
  ::sigaction(SIGHUP, &PreviousHup, nullptr);
  delete Notifier;
  ::close(WakeFds[0]);
  ::close(WakeFds[1]);
  WakeFds[0] = WakeFds[1] = -1;
}

void SignalCloser::SignalArrived() {
  char bytes[16];
  while (::read(WakeFds[0], bytes, sizeof bytes) > 0) {
  }
  if (!Window)
    return;
  Window->setProperty(UnaskedCloseProperty, true);
  Window->close();
}

#else

SignalCloser::SignalCloser(QWidget *window) : QObject(window), Window(window) {}
SignalCloser::~SignalCloser() = default;
void SignalCloser::SignalArrived() {}

#endif

} // namespace kestrune
