#include "ui/WindowThreadNudge.h"

#include <QMetaObject>

namespace kestrune {

WindowThreadNudge::WindowThreadNudge(std::function<void()> onNudge)
    : OnNudge(std::move(onNudge)) {}

void WindowThreadNudge::Post() {
  // By name rather than with a functor: a functor would be built on this
  // thread and read on the window's, through Qt's queue alone.
  QMetaObject::invokeMethod(this, "Arrived", Qt::QueuedConnection);
}

void WindowThreadNudge::Arrived() { OnNudge(); }

} // namespace kestrune
