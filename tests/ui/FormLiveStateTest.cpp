// The window as one of the line's stations: with its records going to the
// line's server it writes its channels' live state there, the window's
// thread never waits for the server, and closing does not wait for one
// that has stopped answering.
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "tests/records/PgServer.h"
#include "tests/ui/UiTestSupport.h"
#include "records/StateWriter.h"
#include "ui/IniSettingsStore.h"
#include "ui/LiveStateFeed.h"
#include "ui/WindowRecords.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <atomic>
#include <chrono>

namespace kestrune {
namespace {

using namespace std::chrono;
using namespace uitest;
using handset::VirtualHandset;
using records::test::PgScalar;
using records::test::PgServer;

records::ChannelState Seen(int number, const std::string &phase) {
  records::ChannelState channel;
  channel.Channel = number;
  channel.Port = "/dev/ttyUSB" + std::to_string(number - 1);
  channel.Phase = phase;
  return channel;
}

// No server: the board alone, fed by hand.
TEST(LiveStateFeedBoard, KeepsTheLastOutcomeWhileTheNextRunRunsAndTheUnitsValues) {
  std::string phase = "finished";
  QWidget window;
  LiveStateFeed feed("postgresql://127.0.0.1:1/none", "s", [&] {
    return std::vector<records::ChannelState>{Seen(1, phase), Seen(2, "idle")};
  }, &window, hours(1));
  feed.Stop();
  feed.TakeOutcome(0, RunOutcome::Failed);
  feed.TakeUnitValues(0, {{"sn", "0000001000"}, {"mac", "00:11:22:33:44:55"}});
  phase = "programming";
  feed.Feed();
  std::vector<records::ChannelState> board = feed.Board().Snapshot();
  ASSERT_EQ(board.size(), 2u);
  EXPECT_EQ(board[0].Phase, "programming");
  EXPECT_EQ(board[0].Port, "/dev/ttyUSB0");
  EXPECT_EQ(board[0].LastOutcome, "failed");
  EXPECT_EQ(board[0].Serials, "sn=0000001000 mac=00:11:22:33:44:55");
  EXPECT_EQ(board[1].LastOutcome, "");
  EXPECT_EQ(board[1].Serials, "");

  feed.TakeOutcome(0, RunOutcome::Passed);
  feed.TakeUnitValues(0, {});
  feed.Feed();
  board = feed.Board().Snapshot();
  EXPECT_EQ(board[0].LastOutcome, "passed");
  EXPECT_EQ(board[0].Serials, "");
}

TEST(LiveStateFeedBoard, RecordsKeptOnTheStationStartNoFeed) {
  QWidget window;
  std::atomic<int> looks{0};
  for (const std::string place : {"", "none", "/tmp/records.sqlite"}) {
    LiveStateFeed feed(place, "s", [&] {
      ++looks;
      return std::vector<records::ChannelState>{};
    }, &window);
    EXPECT_FALSE(feed.Feeding()) << place;
  }
  QTest::qWait(600);
  EXPECT_EQ(looks.load(), 0);
}

// Nothing listens at the URL: the operator is told once, however many
// writes fail, in a notice that leaves the window free.
TEST(LiveStateFeedBoard, AServerThatIsNotThereIsToldOnce) {
  QWidget window;
  LiveStateFeed feed("postgresql://127.0.0.1:1/kestrune", "s", [] {
    return std::vector<records::ChannelState>{Seen(1, "idle")};
  }, &window, milliseconds(100));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !window.findChildren<QMessageBox *>("LineStateNotice").isEmpty(); }, 5000));
  // Past the writer's next try.
  QTest::qWait(int(records::StateWriter::DefaultInterval.count()) + 500);
  const auto notices = window.findChildren<QMessageBox *>("LineStateNotice");
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0]->text().startsWith("channel state is not reaching the server ("))
      << notices[0]->text().toStdString();
  EXPECT_FALSE(notices[0]->isModal());
  feed.Stop();
}

class LiveStateOnServer : public ::testing::Test {
protected:
  void SetUp() override {
    if (PgServer::BinDir().empty())
      GTEST_SKIP() << "PostgreSQL server programs are not installed; install the Debian "
                      "package postgresql";
    ASSERT_TRUE(Server.Start()) << Server.Error();
  }
  std::string Scalar(const std::string &sql) {
    try {
      return PgScalar(Server.Url(), sql);
    } catch (const std::exception &) {
      return {}; // the table is not there yet
    }
  }
  bool WaitForScalar(const std::string &sql, const std::string &want,
                     milliseconds limit = milliseconds(10000)) {
    return QTest::qWaitFor([&] { return Scalar(sql) == want; }, int(limit.count()));
  }

  PgServer Server;
};

TEST_F(LiveStateOnServer, TheWindowWritesItsChannelsAndTheLastOutcome) {
  TempXdg xdg;
  {
    IniSettingsStore settings{UserXdgDirectories()};
    ASSERT_TRUE(settings.OpenSettings(SettingsUse::Save));
    settings.WriteString(RecordsValue, Server.Url());
    settings.WriteString(StationValue, "window-station");
    settings.CloseSettings();
  }
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty()) << handset.ErrorText();
  ScopedEnv ports("KESTRUNE_PORTS", handset.DevicePath());
  const QString file = xdg.Root() + "/image.bin";
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(QByteArray(40000, '\x5a'));
  out.close();
  auto form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
  form->StartMotLoad(file);
  ASSERT_TRUE(WaitForLoad(*form));

  const std::string channelOne =
      "FROM kestrune_station_state WHERE station = 'window-station' AND channel = 1";
  ASSERT_TRUE(WaitForScalar("SELECT port || ' ' || phase " + channelOne,
                            handset.DevicePath() + " idle"))
      << Scalar("SELECT port || ' ' || phase " + channelOne);
  EXPECT_EQ(Scalar("SELECT count(*) FROM kestrune_station_state"),
            std::to_string(ChannelCount));
  EXPECT_EQ(Scalar("SELECT last_outcome " + channelOne), "");

  QTest::mouseClick(Control<QPushButton>(form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->AllChannelsIdle(); }, 30000));
  ASSERT_TRUE(WaitForScalar("SELECT last_outcome " + channelOne, "passed"))
      << Scalar("SELECT last_outcome || ' ' || phase " + channelOne);
  EXPECT_EQ(Scalar("SELECT phase " + channelOne), "finished");
  EXPECT_EQ(Scalar("SELECT percent " + channelOne), "100");
  EXPECT_EQ(Scalar("SELECT last_text " + channelOne), StatusText(form.get(), 0).toStdString());
  EXPECT_EQ(Scalar("SELECT length(image_sha256) " + channelOne), "64");
  form->close();
}

// The server stops answering in the middle of the writes: feeding the
// board never waits, and stopping ends the writer at once.
TEST_F(LiveStateOnServer, AHungServerHoldsUpNeitherTheFeedNorTheStop) {
  QWidget window;
  LiveStateFeed feed(Server.Url(), "hung-station", [] {
    return std::vector<records::ChannelState>{Seen(1, "idle")};
  }, &window);
  ASSERT_TRUE(WaitForScalar("SELECT count(*) FROM kestrune_station_state", "1"));
  ASSERT_TRUE(Server.Pause()) << Server.Error();
  // Past the next write, which now hangs.
  QTest::qWait(2500);
  auto started = steady_clock::now();
  for (int i = 0; i < 20; ++i)
    feed.Feed();
  EXPECT_LT(steady_clock::now() - started, milliseconds(100));
  started = steady_clock::now();
  feed.Stop();
  const auto took = steady_clock::now() - started;
  EXPECT_LT(took, milliseconds(1000)) << duration_cast<milliseconds>(took).count() << " ms";
  ASSERT_TRUE(Server.Resume()) << Server.Error();
  // Stopped means stopped: the server answering again gets no more writes.
  const std::string updated = Scalar("SELECT updated::text FROM kestrune_station_state");
  ASSERT_FALSE(updated.empty());
  QTest::qWait(int(records::StateWriter::DefaultInterval.count()) + 500);
  EXPECT_EQ(Scalar("SELECT updated::text FROM kestrune_station_state"), updated);
}

} // namespace
} // namespace kestrune
