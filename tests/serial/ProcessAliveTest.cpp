// Telling a program that still runs from one that ended, when its process
// number may since have been given to another program: the number with the
// program's start (Linux: the boot and the start in clock ticks; Windows:
// the creation time).
#include "serial/ProcessAlive.h"
#include "tests/serial/SleepingProgram.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kestrune::serial;
using namespace kestrune::serial::test;

namespace {

TEST(ProcessAlive, ANumberHeldByAProgramStartedAtAnotherTimeIsNotTheOneKept) {
  const int64_t self = CurrentProcessId();
  const std::string mark = ProcessStartMark(self);
  ASSERT_FALSE(mark.empty());
  EXPECT_EQ(ProcessStartMark(self), mark);
  EXPECT_TRUE(ProcessAlive(self, mark));
  EXPECT_TRUE(ProcessAlive(self));
  // The same number, kept for a program of another start (or another boot).
  EXPECT_FALSE(ProcessAlive(self, mark + "1"));
  EXPECT_FALSE(ProcessAlive(self, "another-boot:" + mark.substr(mark.rfind(':') + 1)));

  SleepingProgram child;
  ASSERT_GT(child.Pid(), 0);
  const std::string childMark = ProcessStartMark(child.Pid());
  EXPECT_FALSE(childMark.empty());
  EXPECT_NE(childMark, mark);
  EXPECT_TRUE(ProcessAlive(child.Pid(), childMark));
  EXPECT_FALSE(ProcessAlive(child.Pid(), childMark + "1"));
  child.Kill();
  EXPECT_FALSE(ProcessAlive(child.Pid(), childMark));
  EXPECT_FALSE(ProcessAlive(child.Pid()));
}

TEST(ProcessAlive, ALaterProgramHasALaterStart) {
  SleepingProgram first;
  ASSERT_GT(first.Pid(), 0);
  const std::string firstMark = ProcessStartMark(first.Pid());
  // Starts are told apart to the clock's step (Linux: 10 ms; Windows: the
  // system time's).
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  SleepingProgram second;
  ASSERT_GT(second.Pid(), 0);
  const std::string secondMark = ProcessStartMark(second.Pid());
  ASSERT_FALSE(firstMark.empty());
  ASSERT_FALSE(secondMark.empty());
  const auto ticks = [](const std::string &m) { return std::stoull(m.substr(m.rfind(':') + 1)); };
  EXPECT_LT(ticks(firstMark), ticks(secondMark)) << firstMark << " " << secondMark;
  EXPECT_GE(ticks(firstMark), ticks(ProcessStartMark(CurrentProcessId())));
}

} // namespace
