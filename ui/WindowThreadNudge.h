// Tells the window's thread to look at something it keeps under a lock of
// its own. The call posted through Qt's event queue carries no data at all
// (Qt is not built with ThreadSanitizer, so a hand-over through that queue
// is invisible to it); whatever crosses between threads crosses through the
// owner's mutex or atomics.
#pragma once

#include <QObject>

#include <functional>

namespace kestrune {

class WindowThreadNudge : public QObject {
  Q_OBJECT

public:
  // Made on the window's thread; onNudge runs there.
  explicit WindowThreadNudge(std::function<void()> onNudge);

  // Any thread: onNudge runs soon on the window's thread. Nudges posted
  // before the object is destroyed are dropped with it.
  void Post();

  Q_INVOKABLE void Arrived();

private:
  std::function<void()> OnNudge;
};

} // namespace kestrune
