// The swap rule of repeat mode on a clock of the test's own.
#include "engine/SwapWatch.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace std::chrono;
using State = SwapWatch::State;

namespace {

const SwapWatch::Clock::time_point T0{};

} // namespace

TEST(SwapWatch, AnUnitThatKeepsAnsweringIsNeverTakenForTheNext) {
  SwapWatch watch(milliseconds(1000), T0);
  // Answers (or noise) every 900 ms: never silent for a whole second.
  for (int i = 1; i <= 20; ++i) {
    EXPECT_EQ(watch.Call(false, false, T0 + milliseconds(900 * i - 10)), State::Present);
    EXPECT_EQ(watch.Call(true, i % 2 == 0, T0 + milliseconds(900 * i)), State::Present);
  }
}

TEST(SwapWatch, SilenceThenAnAnswerIsTheNextUnit) {
  SwapWatch watch(milliseconds(1000), T0);
  EXPECT_EQ(watch.Call(true, true, T0 + milliseconds(5)), State::Present);
  EXPECT_EQ(watch.Call(false, false, T0 + milliseconds(1004)), State::Present);
  EXPECT_EQ(watch.Call(false, false, T0 + milliseconds(1005)), State::Gone);
  // A unit being plugged in: noise does not start a run, the answer does.
  EXPECT_EQ(watch.Call(true, false, T0 + milliseconds(3000)), State::Gone);
  EXPECT_EQ(watch.Call(true, true, T0 + milliseconds(3010)), State::Arrived);
  EXPECT_EQ(watch.Current(), State::Arrived);
}

TEST(SwapWatch, NothingOnTheLineCountsAsGoneAfterTheSilenceFromTheStart) {
  SwapWatch watch(milliseconds(300), T0);
  EXPECT_EQ(watch.Call(false, false, T0 + milliseconds(299)), State::Present);
  EXPECT_EQ(watch.Call(false, false, T0 + milliseconds(300)), State::Gone);
}

TEST(SwapWatch, AChangedSilenceCountsTheQuietTimeSoFarAgainstTheNewLength) {
  // Shortened: a unit silent for 400 ms is gone at once under a 300 ms rule.
  SwapWatch shortened(milliseconds(2000), T0);
  EXPECT_EQ(shortened.Call(true, true, T0 + milliseconds(100)), State::Present);
  EXPECT_EQ(shortened.Call(false, false, T0 + milliseconds(500)), State::Present);
  shortened.SetSilence(milliseconds(300));
  EXPECT_EQ(shortened.Call(false, false, T0 + milliseconds(500)), State::Gone);
  EXPECT_EQ(shortened.Call(true, true, T0 + milliseconds(600)), State::Arrived);

  // Lengthened: the same quiet time no longer makes the unit gone, and an
  // answer before the longer silence has passed starts it over.
  SwapWatch lengthened(milliseconds(300), T0);
  EXPECT_EQ(lengthened.Call(true, true, T0 + milliseconds(100)), State::Present);
  lengthened.SetSilence(milliseconds(2000));
  EXPECT_EQ(lengthened.Call(false, false, T0 + milliseconds(500)), State::Present);
  EXPECT_EQ(lengthened.Call(true, true, T0 + milliseconds(1500)), State::Present);
  EXPECT_EQ(lengthened.Call(false, false, T0 + milliseconds(3499)), State::Present);
  EXPECT_EQ(lengthened.Call(false, false, T0 + milliseconds(3500)), State::Gone);
  // Once gone, a longer silence does not bring the old unit back.
  lengthened.SetSilence(milliseconds(10000));
  EXPECT_EQ(lengthened.Call(false, false, T0 + milliseconds(3600)), State::Gone);
}
