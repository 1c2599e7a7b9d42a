#include "line/LineQueries.h"
#include "records/StateWriter.h"
#include "tests/line/LineFixture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace kestrune::line::test {
namespace {

using namespace std::chrono;
using nlohmann::json;

records::ChannelState Channel(int number, const std::string &phase, double percent) {
  return {number, "/dev/ttyUSB" + std::to_string(number - 1), phase, percent, "sn=0000001000",
          "passed", "다운로드 완료", std::string(64, 'a'), ""};
}

class StateWriting : public LineServerTest {
protected:
  // The notices told, one per line.
  std::vector<std::string> Notices() {
    std::lock_guard lock(NoticeMutex);
    return Told;
  }
  records::StateWriter::Notice Notice() {
    return [this](const std::string &text) {
      std::lock_guard lock(NoticeMutex);
      Told.push_back(text);
    };
  }
  json Stations(seconds offlineAfter = seconds(10)) {
    return QueryStations(*Connection, ReadLineSchema(*Connection), {}, offlineAfter);
  }
  bool WaitFor(const std::function<bool()> &done, milliseconds limit = milliseconds(5000)) {
    const auto until = steady_clock::now() + limit;
    while (steady_clock::now() < until) {
      try {
        if (done())
          return true;
      } catch (const std::exception &) {
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }

  std::mutex NoticeMutex;
  std::vector<std::string> Told;
};

TEST_F(StateWriting, EachChannelsStateIsUpsertedAndChannelsGoneAreDropped) {
  records::StationStateBoard board;
  board.Publish({Channel(1, "programming", 40), Channel(2, "erasing", 10),
                 Channel(3, "idle", 0)});
  records::StateWriter writer(Url, "station-a", board, Notice(), milliseconds(50));
  ASSERT_TRUE(WaitFor([&] { return Stations().size() == 1; })) << Stations().dump();
  json station = Stations()[0];
  EXPECT_EQ(station["station"], "station-a");
  EXPECT_TRUE(station["online"]);
  ASSERT_EQ(station["channels"].size(), 3u);
  EXPECT_EQ(station["channels"][0]["phase"], "programming");
  EXPECT_EQ(station["channels"][0]["serials"], "sn=0000001000");
  EXPECT_EQ(station["channels"][0]["last_text"], "다운로드 완료");

  // The next write replaces the rows; a station that runs fewer channels
  // leaves none behind.
  board.Publish({Channel(1, "verdict", 99.5)});
  ASSERT_TRUE(WaitFor([&] {
    json s = Stations();
    return s.size() == 1 && s[0]["channels"].size() == 1 &&
           s[0]["channels"][0]["phase"] == "verdict";
  })) << Stations().dump();
  EXPECT_EQ(Stations()[0]["channels"][0]["percent"], 99.5);
  const std::string rows =
      records::test::PgScalar(Url, "SELECT count(*) FROM kestrune_station_state");
  EXPECT_EQ(rows, "1");
  writer.Stop();
  EXPECT_TRUE(Notices().empty());
}

TEST_F(StateWriting, AStationThatStopsWritingTurnsOffline) {
  records::StationStateBoard board;
  board.Publish({Channel(1, "programming", 40)});
  {
    records::StateWriter writer(Url, "station-a", board, Notice(), milliseconds(50));
    ASSERT_TRUE(WaitFor([&] { return Stations().size() == 1; }));
  }
  EXPECT_TRUE(Stations(seconds(10))[0]["online"]);
  Exec("UPDATE kestrune_station_state SET updated = now() - interval '11 seconds'");
  EXPECT_FALSE(Stations(seconds(10))[0]["online"]);
  EXPECT_TRUE(Stations(seconds(12))[0]["online"]);
}

TEST_F(StateWriting, ADeadServerIsSaidOnceAndAgainWhenItAnswers) {
  records::StationStateBoard board;
  board.Publish({Channel(1, "programming", 40)});
  records::StateWriter writer(Url, "station-a", board, Notice(), milliseconds(50));
  ASSERT_TRUE(WaitFor([&] { return writer.Writes() > 0; }));
  Server->Stop();
  ASSERT_TRUE(WaitFor([&] { return writer.Failing(); }));
  // Several failed writes later, still one notice.
  std::this_thread::sleep_for(milliseconds(400));
  std::vector<std::string> told = Notices();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("channel state is not reaching the server ("), std::string::npos)
      << told[0];
  ASSERT_TRUE(Server->Start()) << Server->Error();
  const uint64_t before = writer.Writes();
  ASSERT_TRUE(WaitFor([&] { return writer.Writes() > before; }, milliseconds(10000)));
  told = Notices();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[1], "channel state reaches the server again");
}

TEST_F(StateWriting, StopEndsAWriteHangingOnAServerThatSaysNothing) {
  records::StationStateBoard board;
  board.Publish({Channel(1, "programming", 40)});
  records::StateWriter writer(Url, "station-a", board, Notice(), milliseconds(20));
  ASSERT_TRUE(WaitFor([&] { return writer.Writes() > 0; }));
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  // Let a write start and hang on the stopped server.
  std::this_thread::sleep_for(milliseconds(200));
  const auto start = steady_clock::now();
  writer.Stop();
  const auto took = steady_clock::now() - start;
  ASSERT_TRUE(Server->Resume());
  EXPECT_LT(took, milliseconds(500));
  // A stop is no failure of the server's.
  EXPECT_TRUE(Notices().empty());
}

TEST_F(StateWriting, ChannelsPublishingNeverWaitForTheServer) {
  records::StationStateBoard board;
  board.Publish({Channel(1, "programming", 0)});
  records::StateWriter writer(Url, "station-a", board, Notice(), milliseconds(1));
  ASSERT_TRUE(WaitFor([&] { return writer.Writes() > 0; }));
  ASSERT_TRUE(Server->Pause()) << Server->Error();
  std::this_thread::sleep_for(milliseconds(100));
  // The writer hangs in its write; the board stays free.
  const auto start = steady_clock::now();
  for (int i = 0; i < 1000; ++i)
    board.Publish({Channel(1, "programming", i / 10.0)});
  EXPECT_LT(steady_clock::now() - start, milliseconds(200));
  writer.Stop();
  ASSERT_TRUE(Server->Resume());
}

} // namespace
} // namespace kestrune::line::test
