// Channels building under one job's count, as threads: each asks the gate
// before a unit, holds it a moment, and passes or fails it at random. What
// they passed, and the most units passed plus under way seen at once.
#pragma once

#include "jobcount/JobCountGate.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::jobcount::test {

struct BuildTally {
  std::atomic<uint64_t> Passed{0};
  std::atomic<uint64_t> Failed{0};
  std::atomic<uint64_t> Flying{0};
  std::atomic<uint64_t> MostSeen{0}; // passed plus under way, at a unit's start
  std::atomic<uint64_t> Refusals{0};
  std::string LastRefusal;
};

// Each channel goes on until the gate refuses it. failOneIn: 0 none fail.
// A unit takes from holdUs to twice that.
inline void Build(JobCountGate &gate, int channels, unsigned failOneIn, BuildTally &tally,
                  int firstChannel = 1, unsigned holdUs = 400) {
  std::vector<std::thread> threads;
  std::mutex textLock;
  for (int c = 0; c < channels; ++c)
    threads.emplace_back([&, c] {
      std::minstd_rand random(unsigned(c * 7919 + firstChannel));
      for (;;) {
        std::string text;
        UnitAdmission admission = gate.Admit(firstChannel + c, text);
        if (admission == UnitAdmission::Refused) {
          ++tally.Refusals;
          std::lock_guard lock(textLock);
          tally.LastRefusal = text;
          return;
        }
        if (admission == UnitAdmission::Wait) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        const uint64_t seen = tally.Passed + ++tally.Flying;
        uint64_t most = tally.MostSeen;
        while (seen > most && !tally.MostSeen.compare_exchange_weak(most, seen)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(holdUs + random() % holdUs));
        const bool passed = failOneIn == 0 || random() % failOneIn != 0;
        // Counted before the gate hears it, as a record is kept first.
        if (passed)
          ++tally.Passed;
        else
          ++tally.Failed;
        --tally.Flying;
        gate.Finish(firstChannel + c, passed);
      }
    });
  for (std::thread &t : threads)
    t.join();
}

} // namespace kestrune::jobcount::test
