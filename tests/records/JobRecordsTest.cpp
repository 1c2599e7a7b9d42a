// The production job a run was part of, on record: kept by the station's
// database through its migration, listed in every format, and the runs of
// one job (or one version of it) found again.
#include "records/RecordFromRun.h"
#include "records/RecordListing.h"
#include "records/SqliteSchema.h"
#include "records/SqliteStore.h"
#include "tests/records/RecordsTestSupport.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrune;
using namespace kestrune::records;
using namespace kestrune::records::test;

namespace {

Record OfJob(const std::string &station, const std::string &started, const std::string &name,
             const std::string &version) {
  Record r = SampleRecord(station, 1, started);
  r.JobName = name;
  r.JobVersion = version;
  r.JobSha256 = name.empty() ? "" : std::string(64, version == "1" ? '1' : '2');
  return r;
}

std::vector<std::string> Stations(SqliteStore &store, const RecordFilter &filter) {
  std::vector<Record> found;
  std::string why;
  EXPECT_TRUE(store.List(filter, found, why)) << why;
  std::vector<std::string> out;
  for (const Record &r : found)
    out.push_back(r.Station);
  return out;
}

} // namespace

TEST(JobRecords, StoreKeepsTheJobAndFindsItsRunsByNameAndVersion) {
  TempDir dir;
  std::string why;
  auto store = SqliteStore::Open(dir.File("records.sqlite"), why);
  ASSERT_TRUE(store) << why;
  ASSERT_TRUE(store->Insert(OfJob("a", "2026-12-08T05:00:00.000Z", "fw-line-a", "1"), why));
  ASSERT_TRUE(store->Insert(OfJob("b", "2026-12-08T05:00:01.000Z", "fw-line-a", "2"), why));
  ASSERT_TRUE(store->Insert(OfJob("c", "2026-12-08T05:00:02.000Z", "fw-line-ab", "1"), why));
  ASSERT_TRUE(store->Insert(OfJob("d", "2026-12-08T05:00:03.000Z", "", ""), why));
  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[3].JobName, "fw-line-a");
  EXPECT_EQ(all[3].JobVersion, "1");
  EXPECT_EQ(all[3].JobSha256, std::string(64, '1'));
  EXPECT_TRUE(all[0].JobName.empty());

  RecordFilter filter;
  filter.JobName = "fw-line-a"; // every version, and not a longer name
  EXPECT_EQ(Stations(*store, filter), (std::vector<std::string>{"b", "a"}));
  filter.JobVersion = "2";
  EXPECT_EQ(Stations(*store, filter), std::vector<std::string>{"b"});
  filter.Station = "a";
  EXPECT_TRUE(Stations(*store, filter).empty());
}

TEST(JobRecords, FifthSchemaGainsTheJobColumnsKeepingItsRows) {
  TempDir dir;
  const std::string path = dir.File("old.sqlite");
  {
    std::string why;
    auto store = SqliteStore::Open(path, why);
    ASSERT_TRUE(store) << why;
    ASSERT_TRUE(store->Insert(SampleRecord("v5", 1, "2026-12-01T00:00:00.000Z"), why)) << why;
  }
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP INDEX runs_job; DROP TABLE job_units; "
                           "ALTER TABLE runs DROP COLUMN job_name; "
                           "ALTER TABLE runs DROP COLUMN job_version; "
                           "ALTER TABLE runs DROP COLUMN job_sha256; PRAGMA user_version = 5",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  std::string why;
  auto store = SqliteStore::Open(path, why);
  ASSERT_TRUE(store) << why;
  ASSERT_TRUE(store->Insert(OfJob("v6", "2026-12-02T00:00:00.000Z", "fw-line-a", "1"), why));
  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].JobName, "fw-line-a");
  EXPECT_EQ(all[1].Station, "v5");
  EXPECT_TRUE(all[1].JobName.empty());
  EXPECT_TRUE(all[1].JobSha256.empty());
}

TEST(JobRecords, ListingsAndTheRunsRecordCarryTheJob) {
  std::vector<Record> records = {OfJob("a", "2026-12-08T05:00:00.000Z", "fw, \"a\"", "1")};
  std::ostringstream json;
  WriteListing(json, records, ListFormat::Json);
  const auto record = nlohmann::json::parse(json.str())["records"][0];
  EXPECT_EQ(record["job_name"], "fw, \"a\"");
  EXPECT_EQ(record["job_version"], "1");
  EXPECT_EQ(record["job_sha256"], std::string(64, '1'));
  std::ostringstream csv;
  WriteListing(csv, records, ListFormat::Csv);
  const std::string header = csv.str().substr(0, csv.str().find("\r\n"));
  EXPECT_NE(header.find(",job_name,job_version,job_sha256"), std::string::npos) << header;
  EXPECT_NE(csv.str().find(",\"fw, \"\"a\"\"\",1," + std::string(64, '1')), std::string::npos)
      << csv.str();

  RunReport report;
  report.JobName = "fw-line-a";
  report.JobVersion = "7";
  report.JobSha256 = std::string(64, 'e');
  Record made = RecordFromRun(report, {"st", ""});
  EXPECT_EQ(made.JobName, "fw-line-a");
  EXPECT_EQ(made.JobVersion, "7");
  EXPECT_EQ(made.JobSha256, std::string(64, 'e'));
}
