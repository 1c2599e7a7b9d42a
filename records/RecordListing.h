// Records as the operator and the quality engineer read them: newest first,
// then one summary line per station and channel, as a table, CSV or JSON.
#pragma once

#include "records/Record.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune::records {

struct SummaryLine {
  std::string Station;
  int Channel = 0;
  uint64_t Passed = 0, Failed = 0, Stopped = 0;
  uint64_t NoUnit = 0; // runs that reached no handset, in none of the counts
  // Passed out of passed and failed; stopped runs judged no unit. Nothing
  // when no unit was judged.
  std::optional<double> Yield() const;
};

// Ordered by station, then channel.
std::vector<SummaryLine> Summarise(const std::vector<Record> &records);

// The same summary taken one record at a time, for records streamed from a
// store.
class SummaryTally {
public:
  void Add(const Record &record);
  // Ordered by station, then channel.
  std::vector<SummaryLine> Lines() const;

private:
  std::map<std::pair<std::string, int>, SummaryLine> Counts;
};

// The runs as one CSV table (RFC 4180, CRLF), the listing's columns: the
// header line, then a line per record.
void WriteCsvHeader(std::ostream &out);
void WriteCsvRecord(std::ostream &out, const Record &record);
// The summary as a CSV table of its own, with the runs that reached no
// unit in a column of their own.
void WriteCsvSummary(std::ostream &out, const std::vector<SummaryLine> &summary);

enum class ListFormat { Table, Csv, Json };
std::optional<ListFormat> ListFormatFromName(const std::string &name);

// Writes records one at a time as they come, then the summary: memory stays
// the same whatever their number. The table shows control characters as
// \xNN; CSV and JSON keep the exact text.
class ListingWriter {
public:
  ListingWriter(std::ostream &out, ListFormat format);
  void Add(const Record &record);
  // The summary and the end of the listing.
  void Finish();

private:
  std::ostream &Out;
  ListFormat Format;
  uint64_t Count = 0;
  std::map<std::pair<std::string, int>, SummaryLine> Lines;
};

void WriteListing(std::ostream &out, const std::vector<Record> &records, ListFormat format);

// Control characters (and DEL) as \xNN, so that a text cannot move the
// terminal's cursor or change its colours.
std::string TerminalSafe(const std::string &text);

// "passed 9, failed 1, stopped 0, yield 90.0%"
std::string SummaryText(const SummaryLine &line);

} // namespace kestrune::records
