// A scheme placed in an image and drawing from a ledger: each claim's
// patches, and what settling does to the values the next unit gets.
#include "serial/MemoryLedger.h"
#include "serial/UnitSerials.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace kestrune;
using namespace kestrune::serial;

namespace {

std::shared_ptr<const SerialScheme> Scheme(const std::string &fields) {
  auto scheme = std::make_shared<SerialScheme>();
  std::string error;
  EXPECT_TRUE(ParseScheme("{\"fields\":[" + fields + "]}", ".", *scheme, error)) << error;
  return scheme;
}

const std::string SnAndMac =
    R"({"name":"sn","address":"0x8010","length":6,"encoding":"ascii","counter":{"start":5,"step":5,"last":30}},
       {"name":"mac","offset":2,"length":6,"encoding":"be","mac":{"first":"02:00:00:00:00:ff","last":"02:00:00:00:01:ff"}})";

struct Rig {
  std::shared_ptr<MemoryLedger> Ledger = std::make_shared<MemoryLedger>();
  std::shared_ptr<UnitSerials> Values;
  explicit Rig(const std::string &fields = SnAndMac) {
    std::string error;
    Values = UnitSerials::Make(Scheme(fields), 0x8000, 0x100, Ledger, "station-1", error);
    EXPECT_TRUE(Values) << error;
  }
  UnitValueClaim Claim() {
    UnitValueClaim claim;
    std::string error;
    EXPECT_TRUE(Values->Claim(1, claim, error)) << error;
    return claim;
  }
  void Settle(const UnitValueClaim &claim, UnitValuesEnd end) {
    std::string error;
    EXPECT_TRUE(Values->Settle(claim, end, error)) << error;
  }
  std::string Sn(const UnitValueClaim &claim) { return claim.Values.at(0).second; }
};

} // namespace

TEST(UnitSerials, ClaimGivesEachFieldsBytesAtItsOffset) {
  Rig rig;
  EXPECT_EQ(rig.Values->LowestOffset(), 2u);
  UnitValueClaim claim = rig.Claim();
  ASSERT_EQ(claim.Patches.size(), 2u);
  EXPECT_EQ(claim.Patches[0].Offset, 0x10u);
  EXPECT_EQ(claim.Patches[0].Bytes, (std::vector<uint8_t>{'0', '0', '0', '0', '0', '5'}));
  EXPECT_EQ(claim.Patches[1].Offset, 2u);
  EXPECT_EQ(claim.Patches[1].Bytes, (std::vector<uint8_t>{2, 0, 0, 0, 0, 0xFF}));
  EXPECT_EQ(claim.Values, (std::vector<std::pair<std::string, std::string>>{
                              {"sn", "000005"}, {"mac", "02:00:00:00:00:ff"}}));
  // The image's bytes outside the patches stay; the patches go in place.
  std::vector<uint8_t> block(0x100, 0xEE);
  PatchBlock(block.data(), 0, 0x100, claim.Patches);
  EXPECT_EQ(block[1], 0xEE);
  EXPECT_EQ(block[2], 2);
  EXPECT_EQ(block[7], 0xFF);
  EXPECT_EQ(block[8], 0xEE);
  EXPECT_EQ(block[0x15], '5');
  // A block that holds only part of a patch gets that part.
  std::vector<uint8_t> tail(4, 0xEE);
  PatchBlock(tail.data(), 0x13, 4, claim.Patches);
  EXPECT_EQ(tail, (std::vector<uint8_t>{'0', '0', '5', 0xEE}));
  EXPECT_TRUE(BlockHoldsPatch(0x15, 1, claim.Patches));
  EXPECT_FALSE(BlockHoldsPatch(0x16, 100, claim.Patches));
  EXPECT_FALSE(BlockHoldsPatch(0, 2, claim.Patches));
}

TEST(UnitSerials, ReturnedValuesGoToTheNextUnitSpentAndPassedNever) {
  Rig rig;
  UnitValueClaim first = rig.Claim();
  UnitValueClaim second = rig.Claim();
  EXPECT_EQ(rig.Sn(first), "000005");
  EXPECT_EQ(rig.Sn(second), "000010");
  rig.Settle(first, UnitValuesEnd::Returned);
  rig.Settle(second, UnitValuesEnd::Spent);
  UnitValueClaim third = rig.Claim();
  EXPECT_EQ(rig.Sn(third), "000005"); // the returned one, first
  EXPECT_EQ(third.Values[1].second, "02:00:00:00:00:ff");
  rig.Settle(third, UnitValuesEnd::Passed);
  UnitValueClaim fourth = rig.Claim();
  EXPECT_EQ(rig.Sn(fourth), "000015");
  rig.Settle(fourth, UnitValuesEnd::Passed);
  auto status = rig.Ledger->Status(rig.Values->Requests());
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[0].Passed, 2u);
  EXPECT_EQ(status[0].Spent, 1u);
  EXPECT_EQ(status[0].SpentTexts, std::vector<std::string>{"000010"});
  EXPECT_EQ(status[0].NextText, "000020");
  EXPECT_EQ(status[0].Left, 3u);
  // A claim settles once.
  std::string error;
  EXPECT_FALSE(rig.Values->Settle(fourth, UnitValuesEnd::Returned, error));
}

TEST(UnitSerials, UsedUpRangeRefusesTheWholeClaim) {
  Rig rig(R"({"name":"sn","offset":0,"length":2,"encoding":"ascii","counter":{"start":1,"last":3}},
            {"name":"mac","offset":8,"length":6,"encoding":"be","mac":{"first":"02:00:00:00:00:01","last":"02:00:00:00:00:02"}})");
  for (int i = 0; i < 2; ++i)
    rig.Settle(rig.Claim(), UnitValuesEnd::Passed);
  UnitValueClaim claim;
  std::string error;
  EXPECT_FALSE(rig.Values->Claim(1, claim, error));
  EXPECT_NE(error.find("Serial range of mac used up"), std::string::npos) << error;
  // The counter's third value was not lost with the refused claim.
  auto status = rig.Ledger->Status(rig.Values->Requests());
  EXPECT_EQ(status[0].NextText, "03");
  EXPECT_EQ(status[0].Left, 1u);
  EXPECT_EQ(status[0].Claimed, 0u);
}

TEST(UnitSerials, SchemeThatDoesNotFitTheImageIsRefused) {
  auto ledger = std::make_shared<MemoryLedger>();
  std::string error;
  EXPECT_FALSE(UnitSerials::Make(Scheme(SnAndMac), 0x8000, 0x14, ledger, "s", error));
  EXPECT_NE(error.find("Image too short for serial field sn"), std::string::npos) << error;
  EXPECT_FALSE(UnitSerials::Make(Scheme(SnAndMac), 0x9000, 0x1000, ledger, "s", error));
  EXPECT_NE(error.find("lies outside the image"), std::string::npos) << error;
}

TEST(UnitSerials, ChannelsClaimingAtOnceNeverShareAValue) {
  Rig rig(R"({"name":"sn","offset":0,"length":8,"encoding":"ascii","counter":{"start":1,"last":100000}})");
  constexpr int Channels = 8, Units = 200;
  std::vector<std::vector<std::string>> passed(Channels);
  std::vector<std::thread> threads;
  for (int c = 0; c < Channels; ++c)
    threads.emplace_back([&, c] {
      for (int u = 0; u < Units; ++u) {
        UnitValueClaim claim;
        std::string error;
        if (!rig.Values->Claim(c + 1, claim, error))
          continue;
        UnitValuesEnd end = u % 3 == 0   ? UnitValuesEnd::Returned
                            : u % 3 == 1 ? UnitValuesEnd::Spent
                                         : UnitValuesEnd::Passed;
        rig.Values->Settle(claim, end, error);
        if (end == UnitValuesEnd::Passed)
          passed[size_t(c)].push_back(claim.Values[0].second);
      }
    });
  for (auto &t : threads)
    t.join();
  std::set<std::string> distinct;
  size_t total = 0;
  for (const auto &values : passed) {
    distinct.insert(values.begin(), values.end());
    total += values.size();
  }
  EXPECT_EQ(distinct.size(), total);
  auto status = rig.Ledger->Status(rig.Values->Requests());
  EXPECT_EQ(status[0].Passed, total);
  // Every position handed out is passed, spent, or back in the free count.
  EXPECT_EQ(status[0].Passed + status[0].Spent + status[0].Left, 100000u);
}
