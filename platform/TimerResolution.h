// The system timer's granularity while channels run. Windows wakes sleeping
// threads on a tick of about 15.6 ms by default, far longer than the boot
// call's 6 ms reads; while any FineTimer lives the tick is 1 ms, and the
// last one to go puts the default back. Linux timers are fine-grained
// already: there the objects only count.
#pragma once

namespace kestrune {

class FineTimer {
public:
  FineTimer();
  ~FineTimer();
  FineTimer(const FineTimer &) = delete;
  FineTimer &operator=(const FineTimer &) = delete;

  // How many FineTimer objects live now.
  static int Holders();
};

} // namespace kestrune
