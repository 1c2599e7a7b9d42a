#include "line/LineQueries.h"
#include "platform/IsoUtcTime.h"
#include "tests/line/LineFixture.h"

#include <chrono>

namespace kestrune::line::test {
namespace {

using nlohmann::json;

std::string HoursAgo(double hours) {
  return IsoUtcTime(std::chrono::system_clock::now() -
                    std::chrono::milliseconds(int64_t(hours * 3600 * 1000)));
}

const json *Row(const json &rows, const std::string &station, int channel) {
  for (const json &r : rows)
    if (r["station"] == station && r["channel"] == channel)
      return &r;
  return nullptr;
}

class LineQueries : public LineServerTest {
protected:
  LineSchema Schema() { return ReadLineSchema(*Connection); }
};

TEST_F(LineQueries, YieldCountsEveryJudgedRunAndAUnitsFirstRunOnce) {
  Put({// Unit sn=1 fails, is flashed again with the same values and passes:
       // two judged runs, one first run, which failed.
       Run("A", 1, "2026-12-08T06:00:00.000Z", "failed", "", {{"sn", "1"}}),
       Run("A", 1, "2026-12-08T06:01:00.000Z", "passed", "", {{"sn", "1"}}),
       // Its re-run on another channel belongs to the first channel's unit.
       Run("A", 2, "2026-12-08T06:02:00.000Z", "passed", "", {{"sn", "1"}}),
       Run("A", 2, "2026-12-08T06:03:00.000Z", "passed", "", {{"sn", "2"}}),
       // Without values each run is a first run.
       Run("A", 2, "2026-12-08T06:04:00.000Z", "failed"),
       Run("A", 2, "2026-12-08T06:05:00.000Z", "passed"),
       // Neither judged nor a unit: in no count.
       Run("A", 1, "2026-12-08T06:06:00.000Z", "stopped")});
  records::Record noUnit = Run("A", 1, "2026-12-08T06:07:00.000Z", "failed");
  noUnit.Unit = false;
  Put({noUnit});

  json rows = QueryYield(*Connection, Schema(), {});
  ASSERT_EQ(rows.size(), 2u) << rows.dump();
  const json *one = Row(rows, "A", 1);
  const json *two = Row(rows, "A", 2);
  ASSERT_TRUE(one && two) << rows.dump();
  EXPECT_EQ((*one)["passed"], 1);
  EXPECT_EQ((*one)["failed"], 1);
  EXPECT_EQ((*one)["first_runs"], 1);
  EXPECT_EQ((*one)["first_passed"], 0);
  EXPECT_EQ((*one)["first_pass_yield"], 0.0);
  EXPECT_EQ((*two)["passed"], 3);
  EXPECT_EQ((*two)["failed"], 1);
  EXPECT_EQ((*two)["first_runs"], 3); // sn=2 and the two without values
  EXPECT_EQ((*two)["first_passed"], 2);
  EXPECT_NEAR((*two)["first_pass_yield"].get<double>(), 2.0 / 3.0, 1e-9);
}

TEST_F(LineQueries, FiltersNarrowEveryAnswerAndRequestTextStaysAValue) {
  records::Record other = Run("B", 1, "2026-12-08T08:00:00.000Z", "failed", "ERROR X (7)");
  other.ImageSha256 = std::string(64, 'c');
  Put({Run("A", 1, "2026-12-08T06:00:00.000Z", "failed", "ERROR X (7)"),
       Run("A", 1, "2026-12-08T07:00:00.000Z", "failed", "ERROR X (7)"), other});
  auto failures = [&](LineFilter f) {
    json rows = QueryFailures(*Connection, Schema(), f);
    return rows.empty() ? 0 : rows[0]["count"].get<int>();
  };
  EXPECT_EQ(failures({}), 3);
  EXPECT_EQ(failures({.Station = "A"}), 2);
  EXPECT_EQ(failures({.From = "2026-12-08T06:30"}), 2);
  EXPECT_EQ(failures({.To = "2026-12-08T06:30"}), 1);
  EXPECT_EQ(failures({.From = "2026-12-08T06:30", .To = "2026-12-08T07:30"}), 1);
  EXPECT_EQ(failures({.Image = std::string(64, 'c')}), 1);
  EXPECT_EQ(failures({.Station = "A' OR '1'='1"}), 0);
  // A line's server whose records predate jobs: a job matches nothing.
  Exec("ALTER TABLE kestrune_records DROP COLUMN IF EXISTS job_name");
  EXPECT_FALSE(Schema().JobName);
  EXPECT_EQ(failures({.Job = "fw-line-a"}), 0);
  // Once the jobs' field is there, it is used.
  Exec("ALTER TABLE kestrune_records ADD COLUMN job_name text NOT NULL DEFAULT ''");
  Exec("UPDATE kestrune_records SET job_name = 'fw-line-a' WHERE station = 'B'");
  ASSERT_TRUE(Schema().JobName);
  EXPECT_EQ(failures({.Job = "fw-line-a"}), 1);
  EXPECT_EQ(QuerySearch(*Connection, Schema(), {}, other.Id)[0]["job"], "fw-line-a");
}

TEST_F(LineQueries, FailuresByKindWithoutTheirCodesMostFrequentFirst) {
  Put({Run("A", 1, "2026-12-08T06:00:00.000Z", "failed", "ERROR Flash Erase Fail !! (0)"),
       Run("A", 2, "2026-12-08T06:01:00.000Z", "failed", "ERROR Flash Erase Fail !! (12)"),
       Run("B", 1, "2026-12-08T06:02:00.000Z", "failed",
           "ERROR FLASH programming error (C:1, S:0x000000A0) (0)"),
       Run("B", 1, "2026-12-08T06:03:00.000Z", "failed", "<img src=x onerror=alert(1)>"),
       Run("B", 1, "2026-12-08T06:04:00.000Z", "failed", "<img src=x onerror=alert(1)>"),
       Run("B", 1, "2026-12-08T06:05:00.000Z", "failed", "<img src=x onerror=alert(1)>"),
       Run("B", 2, "2026-12-08T06:06:00.000Z", "passed")});
  json rows = QueryFailures(*Connection, Schema(), {});
  ASSERT_EQ(rows.size(), 3u) << rows.dump();
  EXPECT_EQ(rows[0], json({{"text", "<img src=x onerror=alert(1)>"}, {"count", 3}}));
  EXPECT_EQ(rows[1], json({{"text", "ERROR Flash Erase Fail !!"}, {"count", 2}}));
  // Only the final code goes; the text's own brackets stay.
  EXPECT_EQ(rows[2]["text"], "ERROR FLASH programming error (C:1, S:0x000000A0)");
}

TEST_F(LineQueries, HourlyCoversTheShiftHourByHour) {
  Put({Run("A", 1, HoursAgo(0), "passed"), Run("A", 1, HoursAgo(0), "failed"),
       Run("A", 2, HoursAgo(2), "passed"), Run("A", 2, HoursAgo(30), "passed")});
  json rows = QueryHourly(*Connection, Schema(), {}, 8);
  ASSERT_EQ(rows.size(), 8u) << rows.dump();
  long long passed = 0, failed = 0;
  for (const json &r : rows) {
    passed += r["passed"].get<long long>();
    failed += r["failed"].get<long long>();
  }
  EXPECT_EQ(passed, 2); // the run of 30 hours ago is outside
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(rows.back()["passed"], 1);
  EXPECT_EQ(rows.back()["failed"], 1);
  EXPECT_LT(rows.front()["hour"].get<std::string>(), rows.back()["hour"].get<std::string>());
  // Before any station sent a record the hours are there, empty.
  Exec("DROP TABLE kestrune_records");
  rows = QueryHourly(*Connection, Schema(), {}, 8);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows.back()["passed"], 0);
}

TEST_F(LineQueries, SearchFindsASerialValueInAnyFieldAndARecordById) {
  records::Record first = Run("A", 1, "2026-12-08T06:00:00.000Z", "failed", "",
                              {{"sn", "0000001000"}, {"mac", "02:00:00:00:00:01"}});
  records::Record again = Run("A", 2, "2026-12-08T06:05:00.000Z", "passed", "",
                              {{"sn", "0000001000"}, {"mac", "02:00:00:00:00:01"}});
  records::Record other = Run("B", 1, "2026-12-08T06:10:00.000Z", "passed", "",
                              {{"sn", "0000001001"}});
  Put({first, again, other});
  auto ids = [&](const std::string &text) {
    std::vector<std::string> out;
    for (const json &r : QuerySearch(*Connection, Schema(), {}, text))
      out.push_back(r["id"]);
    return out;
  };
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "with the dashboard's index" : "without it");
    if (indexed)
      Exec(DashboardIndexSql());
    ASSERT_EQ(Schema().SerialIndex, indexed);
    EXPECT_EQ(ids("0000001000"), (std::vector<std::string>{again.Id, first.Id}));
    EXPECT_EQ(ids("02:00:00:00:00:01").size(), 2u);
    EXPECT_EQ(ids("0000001001"), std::vector<std::string>{other.Id});
    EXPECT_TRUE(ids("00000010").empty()); // a value matches whole
    EXPECT_TRUE(ids("sn").empty());       // field names are no values
    EXPECT_EQ(ids(other.Id), std::vector<std::string>{other.Id});
  }
  json found = QuerySearch(*Connection, Schema(), {}, first.Id);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["serials"], json({{"sn", "0000001000"}, {"mac", "02:00:00:00:00:01"}}));
  EXPECT_EQ(found[0]["outcome"], "failed");
}

TEST(LineRecordId, OnlyTheUuidFormCountsAsARecordId) {
  EXPECT_TRUE(LooksLikeRecordId("0f8fad5b-d9cb-469f-a165-70867728950e"));
  EXPECT_FALSE(LooksLikeRecordId("0f8fad5b-d9cb-469f-a165-70867728950"));
  EXPECT_FALSE(LooksLikeRecordId("0f8fad5bxd9cb-469f-a165-70867728950e"));
  EXPECT_FALSE(LooksLikeRecordId("0f8fad5b-d9cb-469f-a165-70867728950g"));
}

} // namespace
} // namespace kestrune::line::test
