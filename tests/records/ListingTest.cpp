// Times, places and the listing formats the operator and tools read.
#include "records/RecordListing.h"
#include "records/RecordTime.h"
#include "records/RecordsLocation.h"
#include "records/Uuid.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <sstream>

using kestrune::IsoUtcTime;
using namespace kestrune::records;
using namespace kestrune::records::test;
using namespace std::chrono;

namespace {

TEST(RecordTime, UtcWithMillisecondsAcrossDayAndEpochEdges) {
  system_clock::time_point t{milliseconds(1'796'774'399'999)}; // date -u -d @1796774399
  EXPECT_EQ(IsoUtcTime(t), "2026-12-08T23:59:59.999Z");
  EXPECT_EQ(IsoUtcTime(t + milliseconds(1)), "2026-12-09T00:00:00.000Z");
  EXPECT_EQ(IsoUtcTime(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(IsoUtcTime(system_clock::time_point{milliseconds(-1)}), "1969-12-31T23:59:59.999Z");
}

TEST(RecordTime, SinceTakesDatesAndTimesAndRefusesTheRest) {
  EXPECT_EQ(NormaliseSince("2026-12-08"), "2026-12-08");
  EXPECT_EQ(NormaliseSince("2026-12-08 06:30"), "2026-12-08T06:30");
  EXPECT_EQ(NormaliseSince("2026-12-08T06:30:00Z"), "2026-12-08T06:30:00");
  EXPECT_EQ(NormaliseSince("2026-12-08T06:30:00.5"), std::nullopt);
  EXPECT_EQ(NormaliseSince("2026-13-08"), std::nullopt);
  EXPECT_EQ(NormaliseSince("yesterday"), std::nullopt);
  EXPECT_EQ(NormaliseSince("2026-12-08'; DROP"), std::nullopt);
  // The normalised form compares with stored times as time does.
  EXPECT_LT(*NormaliseSince("2026-12-08 06:30"), "2026-12-08T06:30:00.000Z");
  EXPECT_GT(*NormaliseSince("2026-12-08 06:31"), "2026-12-08T06:30:59.999Z");
}

TEST(RecordsLocation, FollowsXdgDataHomeOrHome) {
  setenv("XDG_DATA_HOME", "/data/x", 1);
  EXPECT_EQ(DefaultRecordsPath(), "/data/x/Orv/Kestrune/records.sqlite");
  setenv("XDG_DATA_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(DefaultRecordsPath(), "/home/op/.local/share/Orv/Kestrune/records.sqlite");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultRecordsPath(), "/home/op/.local/share/Orv/Kestrune/records.sqlite");
  EXPECT_FALSE(HostStationName().empty());
}

TEST(Uuid, RandomVersionFourAndUnique) {
  std::set<std::string> seen;
  const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (int i = 0; i < 1000; ++i) {
    std::string id = NewUuid();
    EXPECT_TRUE(std::regex_match(id, shape)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

std::vector<Record> Sample() {
  std::vector<Record> list;
  for (int i = 0; i < 9; ++i)
    list.push_back(SampleRecord("a", 1, "2026-12-08T05:00:00.000Z"));
  list.push_back(SampleRecord("a", 1, "2026-12-08T05:00:00.000Z", "failed"));
  list.push_back(SampleRecord("a", 2, "2026-12-08T05:00:00.000Z", "stopped"));
  list.push_back(SampleRecord("b", 1, "2026-12-08T05:00:00.000Z", "failed"));
  list.back().FailureC = 2;
  return list;
}

TEST(Listing, SummaryPerStationAndChannel) {
  auto lines = Summarise(Sample());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(SummaryText(lines[0]), "passed 9, failed 1, stopped 0, yield 90.0%");
  EXPECT_EQ(lines[1].Channel, 2);
  // Only stopped runs: no unit was judged, so no yield.
  EXPECT_EQ(SummaryText(lines[1]), "passed 0, failed 0, stopped 1, yield -");
  EXPECT_EQ(lines[2].Station, "b");
  EXPECT_EQ(lines[2].Yield(), 0.0);
}

TEST(Listing, RunsThatReachedNoHandsetAreListedButNotCounted) {
  auto sample = Sample();
  for (const char *outcome : {"failed", "stopped"}) {
    sample.push_back(SampleRecord("a", 1, "2026-12-08T06:00:00.000Z", outcome));
    sample.back().Unit = false;
  }
  auto lines = Summarise(sample);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].NoUnit, 2u);
  EXPECT_EQ(SummaryText(lines[0]), "passed 9, failed 1, stopped 0, yield 90.0%, no unit 2");
  EXPECT_EQ(lines[1].NoUnit, 0u);

  std::ostringstream json;
  WriteListing(json, sample, ListFormat::Json);
  auto parsed = nlohmann::json::parse(json.str());
  EXPECT_EQ(parsed["records"][0]["unit"], true);
  EXPECT_EQ(parsed["records"].back()["unit"], false);
  EXPECT_EQ(parsed["summary"][0]["failed"], 1);
  EXPECT_EQ(parsed["summary"][0]["no_unit"], 2);
  std::ostringstream csv;
  WriteListing(csv, sample, ListFormat::Csv);
  EXPECT_NE(csv.str().find(",program_version,unit,chosen_file,serials,sent_sha256,job_name,"
                           "job_version,job_sha256\r\n"),
            std::string::npos);
  EXPECT_NE(csv.str().find(",false," + sample.back().ChosenFile + ",{},"), std::string::npos);
}

TEST(Listing, CsvQuotesTextsAndEndsWithTheSummary) {
  std::ostringstream out;
  WriteListing(out, Sample(), ListFormat::Csv);
  std::string text = out.str();
  EXPECT_EQ(text.rfind("id,started,ended,station,channel,", 0), 0u);
  EXPECT_NE(text.find(",\"ERROR, with \"\"quotes\"\"\","), std::string::npos);
  EXPECT_NE(text.find("\r\nstation,channel,passed,failed,stopped,yield\r\na,1,9,1,0,90.0%\r\n"),
            std::string::npos);
}

TEST(Listing, JsonCarriesEveryRecordAndTheSummary) {
  std::ostringstream out;
  auto sample = Sample();
  WriteListing(out, sample, ListFormat::Json);
  auto json = nlohmann::json::parse(out.str());
  ASSERT_EQ(json["records"].size(), sample.size());
  EXPECT_EQ(json["records"][11]["failure_c"], 2);
  EXPECT_TRUE(json["records"][0]["failure_c"].is_null());
  EXPECT_EQ(json["records"][0]["final_status"], "다운로드 완료 !!!!!!!!!!!!!!!!!");
  EXPECT_EQ(json["records"][0]["chosen_file"], sample[0].ChosenFile);
  EXPECT_EQ(json["records"][0]["image_path"], sample[0].ImagePath);
  EXPECT_EQ(json["summary"][0]["passed"], 9);
  EXPECT_DOUBLE_EQ(json["summary"][0]["yield"].get<double>(), 0.9);
  EXPECT_TRUE(json["summary"][1]["yield"].is_null());
}

TEST(Listing, TableHasOneLinePerRecordThenTheSummary) {
  std::ostringstream out;
  WriteListing(out, Sample(), ListFormat::Table);
  std::istringstream in(out.str());
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);)
    lines.push_back(l);
  ASSERT_EQ(lines.size(), 12u + 1 + 3);
  EXPECT_EQ(lines[13], "a channel 1: passed 9, failed 1, stopped 0, yield 90.0%");
  std::ostringstream empty;
  WriteListing(empty, {}, ListFormat::Table);
  EXPECT_EQ(empty.str(), "no records\n");
}

} // namespace

namespace {

TEST(Listing, TableEscapesControlCharactersWhileCsvAndJsonKeepTheExactText) {
  Record hostile = SampleRecord("st\x1b[2J\x1b]0;owned\x07", 1, "2026-12-08T10:00:00.000Z");
  hostile.FinalStatus = "line\rover\x7f";
  std::ostringstream table;
  WriteListing(table, {hostile}, ListFormat::Table);
  for (char c : table.str())
    EXPECT_FALSE((c >= 0 && c < 0x20 && c != '\n') || c == 0x7f) << int(c) << table.str();
  EXPECT_NE(table.str().find("st\\x1b[2J\\x1b]0;owned\\x07"), std::string::npos) << table.str();
  EXPECT_NE(table.str().find("line\\x0dover\\x7f"), std::string::npos) << table.str();

  std::ostringstream json;
  WriteListing(json, {hostile}, ListFormat::Json);
  auto parsed = nlohmann::json::parse(json.str());
  EXPECT_EQ(parsed["records"][0]["station"], hostile.Station);
  EXPECT_EQ(parsed["records"][0]["final_status"], hostile.FinalStatus);
  EXPECT_EQ(parsed["summary"][0]["station"], hostile.Station);
  std::ostringstream csv;
  WriteListing(csv, {hostile}, ListFormat::Csv);
  EXPECT_NE(csv.str().find(hostile.Station), std::string::npos);
  EXPECT_NE(csv.str().find("\"" + hostile.FinalStatus + "\""), std::string::npos);
}

TEST(Listing, RecordsWrittenOneByOneMakeOneJsonDocumentWhateverTheirNumber) {
  for (int count : {0, 1, 3}) {
    std::ostringstream out;
    ListingWriter writer(out, ListFormat::Json);
    for (int i = 0; i < count; ++i)
      writer.Add(SampleRecord("st", 1 + i % 2, "2026-12-08T10:00:0" + std::to_string(i) + ".000Z"));
    writer.Finish();
    auto parsed = nlohmann::json::parse(out.str(), nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << out.str();
    EXPECT_EQ(parsed["records"].size(), size_t(count));
    EXPECT_EQ(parsed["summary"].size(), size_t(std::min(count, 2)));
  }
}

} // namespace
