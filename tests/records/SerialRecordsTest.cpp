// The serial values a run wrote into its unit, on record: kept by the
// station's database through its migration, listed in every format, and
// found again by their text.
#include "records/RecordFromRun.h"
#include "records/RecordListing.h"
#include "records/SerialsText.h"
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

Record WithSerials(const std::string &station, int channel, const std::string &started,
                   SerialValues serials, const std::string &outcome = "passed") {
  Record r = SampleRecord(station, channel, started, outcome);
  r.Serials = std::move(serials);
  r.SentSha256 = std::string(64, 'c');
  return r;
}

std::vector<std::string> Stations(const std::vector<Record> &records) {
  std::vector<std::string> out;
  for (const Record &r : records)
    out.push_back(r.Station + "/" + std::to_string(r.Channel));
  return out;
}

} // namespace

TEST(SerialRecords, StoreKeepsTheValuesAndFindsRunsByOne) {
  TempDir dir;
  std::string why;
  auto store = SqliteStore::Open(dir.File("records.sqlite"), why);
  ASSERT_TRUE(store) << why;
  const SerialValues first = {{"sn", "0000001000"}, {"mac", "02:00:00:00:00:01"}};
  ASSERT_TRUE(store->Insert(WithSerials("a", 1, "2026-12-08T05:00:00.000Z", first), why)) << why;
  ASSERT_TRUE(store->Insert(WithSerials("a", 2, "2026-12-08T05:00:01.000Z",
                                        {{"sn", "00000010001"}, {"mac", "02:00:00:00:00:02"}}),
                            why));
  ASSERT_TRUE(store->Insert(WithSerials("b", 1, "2026-12-08T05:00:02.000Z",
                                        {{"sn", "0000001000"}}, "failed"),
                            why));
  ASSERT_TRUE(store->Insert(SampleRecord("c", 1, "2026-12-08T05:00:03.000Z"), why));
  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[3].Serials, first); // in the scheme's order
  EXPECT_EQ(all[3].SentSha256, std::string(64, 'c'));
  EXPECT_TRUE(all[0].Serials.empty());

  auto find = [&](RecordFilter filter) {
    std::vector<Record> found;
    EXPECT_TRUE(store->List(filter, found, why)) << why;
    return Stations(found);
  };
  RecordFilter bySerial;
  bySerial.Serial = "0000001000"; // exactly: not the value it is a prefix of
  EXPECT_EQ(find(bySerial), (std::vector<std::string>{"b/1", "a/1"}));
  bySerial.Serial = "02:00:00:00:00:02"; // any field's value
  EXPECT_EQ(find(bySerial), std::vector<std::string>{"a/2"});
  bySerial.Serial = "0000001000";
  bySerial.Station = "a";
  EXPECT_EQ(find(bySerial), std::vector<std::string>{"a/1"});
  bySerial = {};
  bySerial.Serial = "sn"; // a field's name is no value
  EXPECT_TRUE(find(bySerial).empty());
}

TEST(SerialRecords, OlderDatabaseMigratesAndItsRunsSentTheImageAsItWas) {
  TempDir dir;
  const std::string path = dir.File("old.sqlite");
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string why;
    ASSERT_TRUE(CreateSchemaVersion1(db, why)) << why;
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO runs (id, started, ended, station, channel, port, "
                           "outcome, image_sha256) VALUES ('11111111-2222-4333-8444-555555555555',"
                           " '2026-01-02T03:04:05.006Z', '2026-01-02T03:05:00.000Z', 'old', 1,"
                           " '/dev/ttyS2', 'passed', 'abcdef')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  std::string why;
  auto store = SqliteStore::Open(path, why);
  ASSERT_TRUE(store) << why;
  std::vector<Record> all;
  ASSERT_TRUE(store->List({}, all, why)) << why;
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].Serials.empty());
  EXPECT_EQ(all[0].SentSha256, "abcdef");
  RecordFilter filter;
  filter.Serial = "abcdef";
  all.clear();
  ASSERT_TRUE(store->List(filter, all, why)) << why; // an old row's '{}' is searched too
  EXPECT_TRUE(all.empty());
}

TEST(SerialRecords, ListingsCarryTheValues) {
  std::vector<Record> records = {
      WithSerials("a", 1, "2026-12-08T05:00:00.000Z", {{"sn", "0000001000"}, {"tag", "A,\"B\""}})};
  std::ostringstream json;
  WriteListing(json, records, ListFormat::Json);
  auto parsed = nlohmann::json::parse(json.str());
  const auto &record = parsed["records"][0];
  EXPECT_EQ(record["serials"], (nlohmann::json{{"sn", "0000001000"}, {"tag", "A,\"B\""}}));
  EXPECT_EQ(record["sent_sha256"], std::string(64, 'c'));
  EXPECT_EQ(record["image_sha256"], std::string(64, 'a'));

  std::ostringstream csv;
  WriteListing(csv, records, ListFormat::Csv);
  std::string header = csv.str().substr(0, csv.str().find("\r\n"));
  EXPECT_NE(header.find(",serials,sent_sha256"), std::string::npos);
  // The object is one field, its quotes doubled.
  EXPECT_NE(csv.str().find(R"("{""sn"":""0000001000"",""tag"":""A,\""B\""""}")"),
            std::string::npos)
      << csv.str();

  std::ostringstream table;
  WriteListing(table, records, ListFormat::Table);
  EXPECT_NE(table.str().find("sn=0000001000  tag=A,\"B\""), std::string::npos) << table.str();
}

TEST(SerialRecords, RecordOfARunNamesWhatWasSent) {
  RunReport report;
  report.ImageSha256 = std::string(64, 'a');
  report.Outcome = RunOutcome::Passed;
  Record plain = RecordFromRun(report, {});
  EXPECT_EQ(plain.SentSha256, report.ImageSha256); // no values: the image itself
  EXPECT_TRUE(plain.Serials.empty());
  report.SentSha256 = std::string(64, 'd');
  report.Serials = {{"sn", "0000001000"}};
  Record serial = RecordFromRun(report, {});
  EXPECT_EQ(serial.SentSha256, report.SentSha256);
  EXPECT_EQ(serial.Serials, report.Serials);
  EXPECT_EQ(SerialsFromJson(SerialsToJson(serial.Serials)), serial.Serials);
  EXPECT_TRUE(SerialsFromJson("not json").empty());
}
