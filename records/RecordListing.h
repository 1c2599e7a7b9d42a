// Records as the operator and the quality engineer read them: newest first,
// then one summary line per station and channel, as a table, CSV or JSON.
#pragma once

#include "records/Record.h"

#include <cstdint>
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

enum class ListFormat { Table, Csv, Json };
std::optional<ListFormat> ListFormatFromName(const std::string &name);

void WriteListing(std::ostream &out, const std::vector<Record> &records, ListFormat format);

// "passed 9, failed 1, stopped 0, yield 90.0%"
std::string SummaryText(const SummaryLine &line);

} // namespace kestrune::records
