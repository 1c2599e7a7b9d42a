// The image loading thread as the window sees it: a plain thread running the
// loader routine, and its exit code, which reads StillActive while it runs.
// The window polls that code; it never blocks on the thread while it runs.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kestrune {

class ImageLoad {
public:
  static constexpr int StillActive = 259;

  ImageLoad() = default;
  ImageLoad(const ImageLoad &) = delete;
  ImageLoad &operator=(const ImageLoad &) = delete;
  // Waits for a thread still running: the loader writes shared image state.
  ~ImageLoad();

  // Starts routine on a thread of its own; false when no thread could be
  // created or a load still runs.
  bool Start(std::function<int()> routine);
  // The routine's result once it has returned, StillActive before.
  int ExitCode() const { return Code.load(); }
  bool Running() const { return Code.load() == StillActive; }

private:
  std::thread Thread;
  std::atomic<int> Code{0};
};

} // namespace kestrune
