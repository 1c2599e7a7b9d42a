// The command line's live channel state on the line's server.
#include "handset/VirtualHandset.h"
#include "tests/records/PgForwardFixture.h"

namespace kestrune::records::test {
namespace {

using handset::VirtualHandset;

TEST_F(PgForward, CommandLineWritesItsChannelsStateWhileItRuns) {
  VirtualHandset one, two;
  ASSERT_TRUE(one.StartOnPty());
  ASSERT_TRUE(two.StartOnPty());
  const std::string image = WriteImage(40000);
  int status = Wait(Spawn({"--records", Url, "--station", "st-live", "--image", image,
                           one.DevicePath(), two.DevicePath()},
                          "flash.txt"));
  ASSERT_EQ(status, 0) << Output("flash.txt");
  EXPECT_EQ(PgScalar(Url, "SELECT count(*) FROM kestrune_station_state WHERE station = 'st-live'"),
            "2");
  EXPECT_EQ(PgScalar(Url, "SELECT port FROM kestrune_station_state WHERE station = 'st-live' "
                          "AND channel = 2"),
            two.DevicePath());
  // Written by the server's clock, moments ago.
  EXPECT_EQ(PgScalar(Url, "SELECT bool_and(updated > now() - interval '30 seconds') FROM "
                          "kestrune_station_state"),
            "t");
}

TEST_F(PgForward, CommandLineWithTheServerDownSaysOnceThatItsStateIsNotReachingIt) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  const std::string image = WriteImage(40000);
  Server->Stop();
  const auto before = steady_clock::now();
  int status = Wait(Spawn({"--records", Url, "--station", "st-x", "--image", image,
                           handset.DevicePath()},
                          "flash.txt"));
  const std::string output = Output("flash.txt");
  EXPECT_EQ(status, 0) << output;
  const std::string notice = "kestrune-cli: channel state is not reaching the server (";
  const size_t first = output.find(notice);
  EXPECT_NE(first, std::string::npos) << output;
  EXPECT_EQ(output.find(notice, first + 1), std::string::npos) << output;
  // The run is not held up, and the exit waits only for the records.
  EXPECT_LT(steady_clock::now() - before, seconds(20));
}

} // namespace
} // namespace kestrune::records::test
