#include "ui/ImageLoad.h"

#include <system_error>

namespace kestrune {

ImageLoad::~ImageLoad() {
  if (Thread.joinable())
    Thread.join();
}

bool ImageLoad::Start(std::function<int()> routine) {
  if (Running())
    return false;
  // The previous thread has returned; joining it takes no time.
  if (Thread.joinable())
    Thread.join();
  Code = StillActive;
  try {
    Thread = std::thread([this, routine = std::move(routine)] {
      int code = 1;
      try {
        code = routine();
      } catch (...) {
        // A loader that throws has not made an image ready.
      }
      Code = code == StillActive ? 1 : code;
    });
  } catch (const std::system_error &) {
    Code = 1;
    return false;
  }
  return true;
}

} // namespace kestrune
