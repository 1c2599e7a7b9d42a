// The image loader on a thread of its own, the one both front ends use. The
// window starts it when it has a new image file name in MotFileName and
// reads its exit code on its timer: 259 while the loader runs, then 0 (image
// ready in LoadedImageReady) or 1 (load failed). Only one loader runs in a
// process at a time.
#pragma once

#include "image/MotLoaderThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace kestrune {

class MotLoader {
public:
  // The exit code by which a thread that is still running is reported.
  static constexpr uint32_t StillActive = 259;

  // The procedure is MotLoaderThread except in tests.
  explicit MotLoader(std::function<int()> procedure = MotLoaderThread);
  // Waits for a running load to end.
  ~MotLoader();
  MotLoader(const MotLoader &) = delete;
  MotLoader &operator=(const MotLoader &) = delete;

  // Starts a load. False while any load of this process runs, or when the
  // thread cannot be created (LoadStatusText then says why). Call it from
  // one thread only, like the window's.
  bool Start();
  // Starts a load that runs procedure instead of the one given at
  // construction (the window's own, which tests replace).
  bool Start(std::function<int()> procedure);
  bool Running() const { return Code.load() == StillActive; }
  // StillActive while running; afterwards the procedure's result. 1 before
  // the first load: no image is ready.
  uint32_t ExitCode() const { return Code.load(); }
  // Waits until the load has ended.
  void Join();

private:
  std::function<int()> Procedure;
  std::thread Thread;
  std::atomic<uint32_t> Code{1};
};

} // namespace kestrune
