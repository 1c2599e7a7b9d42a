// Faulty units drawn at random for soak runs, the dead line, and the hung
// unit the operator takes off the line.
#include "tests/handset/CoreRig.h"

#include "handset/UnitFaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

namespace kestrune::handset::test {
namespace {

using Bytes = std::vector<uint8_t>;

bool HasFault(const HandsetOptions &o) {
  return o.NakBlock || o.EraseFailSegment || o.ProgramError || o.SilentAfter != Phase::None ||
         o.CutAfterBytes;
}

int FaultKinds(const HandsetOptions &o) {
  return int(o.NakBlock != 0) + int(o.EraseFailSegment != 0) + int(o.ProgramError) +
         int(o.SilentAfter != Phase::None) + int(o.CutAfterBytes != 0);
}

TEST(UnitFaults, TheSeedFixesTheLineAndEveryUnitHasAtMostItsOwnFault) {
  HandsetOptions base;
  base.SwapAfterRunMs = 100;
  UnitFaults first(5, 30), again(5, 30), other(6, 30);
  std::set<int> kinds;
  int faulty = 0, differs = 0;
  for (int unit = 0; unit < 400; ++unit) {
    std::string a, b, c;
    HandsetOptions drawn = first.Next(base, a);
    again.Next(base, b);
    other.Next(base, c);
    EXPECT_EQ(a, b) << "unit " << unit;
    differs += int(a != c);
    EXPECT_EQ(HasFault(drawn), !a.empty()) << a;
    EXPECT_LE(FaultKinds(drawn), 1) << a;
    EXPECT_EQ(drawn.SwapAfterRunMs, 100u) << "the handset's own options stay";
    if (!HasFault(drawn))
      continue;
    ++faulty;
    kinds.insert(drawn.NakBlock ? 0 : drawn.EraseFailSegment ? 1 : drawn.ProgramError ? 2
                 : drawn.SilentAfter != Phase::None                  ? 3
                                                                     : 4);
    // The draw keeps out of the erase waits, which last minutes by design.
    EXPECT_NE(drawn.SilentAfter, Phase::Erase);
    EXPECT_NE(drawn.SilentAfter, Phase::Verdict);
    EXPECT_LE(drawn.CutAfterBytes, 32u * 1024);
  }
  EXPECT_GT(differs, 50) << "another seed is another line";
  EXPECT_GT(faulty, 80);
  EXPECT_LT(faulty, 160);
  EXPECT_EQ(kinds.size(), 5u) << "every kind of fault turns up";
}

TEST(UnitFaults, NoneAndAllAndAFaultyOptionSetIsClearedForTheNextUnit) {
  HandsetOptions base;
  base.EraseFailSegment = 3; // a fault given on the command line is drawn over
  UnitFaults none(1, 0), all(1, 100);
  for (int unit = 0; unit < 50; ++unit) {
    std::string what;
    EXPECT_FALSE(HasFault(none.Next(base, what)));
    EXPECT_TRUE(what.empty());
    EXPECT_EQ(FaultKinds(all.Next(base, what)), 1) << what;
  }
}

HandsetOptions Swapping() {
  HandsetOptions o;
  o.SwapAfterRunMs = 200;
  o.PullHungUnitMs = 1000;
  return o;
}

TEST(HandsetLine, ADeadLinePassesNothingUntilTheHungUnitIsTakenOffAndTheNextOneAnswers) {
  HandsetOptions o = Swapping();
  o.CutAfterBytes = 100;
  CoreRig rig(o);
  rig.Boot();
  rig.Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
  rig.Send(Bytes(RamProgram.begin(), RamProgram.end()));
  rig.Send({0x45});
  rig.RunFor(Ms(900));
  EXPECT_TRUE(rig.Take().empty()) << "no ACK, no answer to a new call: the line is dead";
  EXPECT_TRUE(rig.Core().Runs().empty()) << "the unit is still on the line";

  rig.RunFor(Ms(200));
  ASSERT_EQ(rig.Core().Runs().size(), 1u);
  EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::Disconnected);
  rig.Send({0x45});
  EXPECT_TRUE(rig.Take().empty()) << "during the swap no unit answers";
  rig.RunFor(Ms(250));
  rig.Boot(); // the next unit
}

TEST(HandsetLine, ASwapCountsFromAHostThatComesBackLate) {
  CoreRig rig(Swapping());
  rig.Boot();
  rig.LoadRamProgram();
  rig.Core().HostClosed(rig.Now);
  ASSERT_EQ(rig.Core().Runs().size(), 1u);
  // Away for longer than the swap takes: the next unit is not yet there
  // when the host is back, so the host hears the line quiet first.
  rig.RunFor(Ms(300));
  rig.Core().HostOpened(rig.Now);
  rig.Send({0x45});
  rig.RunFor(Ms(50));
  EXPECT_TRUE(rig.Take().empty()) << "the next unit came before the host watched the line";
  rig.RunFor(Ms(200));
  rig.Boot(); // the next unit
}

TEST(HandsetLine, ASilentUnitIsTakenOffOnlyWhereUnitsAreSwapped) {
  HandsetOptions swapping = Swapping();
  swapping.SilentAfter = Phase::RamProgram;
  HandsetOptions staying = swapping;
  staying.SwapAfterRunMs = 0;
  for (const HandsetOptions &o : {swapping, staying}) {
    CoreRig rig(o);
    rig.Boot();
    rig.Send({0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00});
    rig.Send(Bytes(RamProgram.begin(), RamProgram.end()));
    rig.RunFor(Ms(900));
    EXPECT_TRUE(rig.Core().Runs().empty()) << "not before its time";
    rig.RunFor(Ms(200));
    EXPECT_TRUE(rig.Take().empty());
    EXPECT_EQ(rig.Core().Runs().size(), o.SwapAfterRunMs ? 1u : 0u);
    if (o.SwapAfterRunMs) {
      EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::Silenced);
    }
  }
}

// The seed of a line whose first units are as asked.
uint32_t SeedFor(const std::function<bool(const HandsetOptions &, const HandsetOptions &)> &wanted,
                 uint32_t percent) {
  for (uint32_t seed = 0;; ++seed) {
    UnitFaults draw(seed, percent);
    std::string what;
    HandsetOptions first = draw.Next({}, what);
    HandsetOptions second = draw.Next({}, what);
    if (wanted(first, second))
      return seed;
  }
}

TEST(HandsetLine, AUnitSilentAtTheBootCallIsTakenOffAndTheNextUnitAnswers) {
  HandsetOptions o = Swapping();
  o.RandomFaults = HandsetOptions::FaultDraw{
      SeedFor([](const HandsetOptions &first,
                 const HandsetOptions &second) {
        return first.SilentAfter == Phase::Boot && !HasFault(second);
      }, 50),
      50};
  CoreRig rig(o);
  rig.Send({0x45});
  rig.RunFor(Ms(1100));
  EXPECT_TRUE(rig.Take().empty());
  rig.Send({0x45});
  rig.RunFor(Ms(250));
  rig.Boot();
}

TEST(HandsetLine, EachRunTakesTheFaultDrawnForItAndTheNextRunItsOwn) {
  uint32_t seed = SeedFor([](const HandsetOptions &first,
                             const HandsetOptions &second) {
    return first.ProgramError && !HasFault(second);
  }, 50);
  HandsetOptions o;
  o.RandomFaults = HandsetOptions::FaultDraw{seed, 50};
  CoreRig rig(o);
  for (int run = 0; run < 2; ++run) {
    rig.Host.Rate = 28800;
    rig.Configure();
    rig.StartHeader(1);
    rig.Block(0, Pattern(1000, uint8_t(run)));
    rig.Take();
  }
  ASSERT_EQ(rig.Core().Runs().size(), 2u);
  EXPECT_EQ(rig.Core().Runs()[0].Outcome, RunOutcome::ProgrammingError);
  EXPECT_EQ(rig.Core().Runs()[1].Outcome, RunOutcome::Complete);
}

} // namespace
} // namespace kestrune::handset::test
