// The queue that carries workers' calls onto the window's thread, served the
// way the window serves it: told through a wake hook, then ServePending.
#include "engine/GuiCallQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace kestrune;
using namespace std::chrono;

namespace {

// Stands in for the window's event loop: counts the nudges and lets the
// test wait for the next one.
struct NudgeLog {
  std::mutex Mutex;
  std::condition_variable Changed;
  int Count = 0;
  void Post() {
    std::lock_guard lock(Mutex);
    ++Count;
    Changed.notify_all();
  }
  bool WaitFor(int count) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, seconds(10), [&] { return Count >= count; });
  }
  int Seen() {
    std::lock_guard lock(Mutex);
    return Count;
  }
};

TEST(GuiCallQueue, OneNudgeWaitsAtATimeUntilTheQueueIsServed) {
  GuiCallQueue queue;
  NudgeLog nudges;
  queue.SetWakeHook([&] { nudges.Post(); });
  queue.Wake();
  queue.Wake();
  EXPECT_EQ(nudges.Seen(), 1);
  queue.ServePending();
  queue.Wake();
  EXPECT_EQ(nudges.Seen(), 2);
}

TEST(GuiCallQueue, CallsRunOnTheServingThreadInOrderAndTheirWritesCrossBothWays) {
  GuiCallQueue queue;
  NudgeLog nudges;
  queue.SetWakeHook([&] { nudges.Post(); });
  const auto server = std::this_thread::get_id();
  std::vector<int> order; // touched only inside calls
  std::string fromWorker, fromServer;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      fromWorker = "text " + std::to_string(i); // written before the call, read in it
      queue.RunAndWait([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), server);
        EXPECT_EQ(fromWorker, "text " + std::to_string(i));
        order.push_back(i);
        fromServer = "seen " + std::to_string(i);
      });
      EXPECT_EQ(fromServer, "seen " + std::to_string(i)); // written in the call
    }
  });
  for (int served = 0; served < 3; ++served) {
    ASSERT_TRUE(nudges.WaitFor(served + 1));
    queue.ServePending();
  }
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(nudges.Seen(), 3);
}

TEST(GuiCallQueue, ClosingLetsWaitingAndLaterCallersGoWithoutRunningTheirCalls) {
  GuiCallQueue queue;
  NudgeLog nudges;
  queue.SetWakeHook([&] { nudges.Post(); });
  std::atomic<int> ran{0};
  std::thread waiting([&] { queue.RunAndWait([&] { ++ran; }); });
  ASSERT_TRUE(nudges.WaitFor(1));
  queue.Close();
  waiting.join();
  std::thread later([&] { queue.RunAndWait([&] { ++ran; }); });
  later.join();
  queue.ServePending();
  queue.Wake();
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(nudges.Seen(), 1);
}

TEST(GuiCallQueue, CallThatThrowsStillReleasesItsWorker) {
  GuiCallQueue queue;
  NudgeLog nudges;
  queue.SetWakeHook([&] { nudges.Post(); });
  std::thread worker([&] { queue.RunAndWait([] { throw std::runtime_error("handler failed"); }); });
  ASSERT_TRUE(nudges.WaitFor(1));
  EXPECT_THROW(queue.ServePending(), std::runtime_error);
  worker.join();
  // The queue goes on serving.
  std::thread next([&] { queue.RunAndWait([] {}); });
  ASSERT_TRUE(nudges.WaitFor(2));
  queue.ServePending();
  next.join();
}

TEST(GuiCallQueue, ServeUntilRunsCallsWithoutAHook) {
  GuiCallQueue queue;
  std::atomic<bool> finished{false};
  int runs = 0;
  std::thread worker([&] {
    for (int i = 0; i < 5; ++i)
      queue.RunAndWait([&] { ++runs; });
    finished = true;
    queue.Wake();
  });
  EXPECT_TRUE(queue.ServeUntil([&] { return finished.load(); }, seconds(10)));
  worker.join();
  EXPECT_EQ(runs, 5);
}

} // namespace
