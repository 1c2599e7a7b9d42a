#include "records/RecordListing.h"

#include "records/SerialsText.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>

namespace kestrune::records {
namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string YieldText(const SummaryLine &line) {
  auto yield = line.Yield();
  return yield ? Fixed(*yield * 100, 1) + "%" : "-";
}

std::string Optional(const std::optional<uint32_t> &value) {
  return value ? std::to_string(*value) : "";
}

// RFC 4180: quoted when it holds a comma, quote or line break.
std::string CsvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

const char *const CsvHeader =
    "id,started,ended,station,channel,port,port_stable_name,image_path,image_size,"
    "image_sha256,ram_program_sha256,speed,identification,outcome,final_status,error_code,"
    "failure_c,failure_s,blocks_resent,bytes_sent,seconds,program_version,unit,chosen_file,"
    "serials,sent_sha256,job_name,job_version,job_sha256";

void WriteCsvRow(std::ostream &out, const Record &r) {
  const std::string fields[] = {r.Id, r.Started, r.Ended, r.Station,
                                std::to_string(r.Channel), r.Port, r.PortStableName,
                                r.ImagePath, std::to_string(r.ImageSize), r.ImageSha256,
                                r.RamProgramSha256, std::to_string(r.Speed), r.Identification,
                                r.Outcome, r.FinalStatus, std::to_string(r.ErrorCode),
                                Optional(r.FailureC), Optional(r.FailureS),
                                std::to_string(r.BlocksResent), std::to_string(r.BytesSent),
                                Fixed(r.Seconds, 3), r.ProgramVersion,
                                r.Unit ? "true" : "false", r.ChosenFile,
                                SerialsToJson(r.Serials), r.SentSha256, r.JobName,
                                r.JobVersion, r.JobSha256};
  bool first = true;
  for (const std::string &f : fields) {
    out << (first ? "" : ",") << CsvField(f);
    first = false;
  }
  out << "\r\n";
}

nlohmann::json JsonOf(const Record &r) {
  nlohmann::json j = {{"id", r.Id}, {"started", r.Started}, {"ended", r.Ended},
                      {"station", r.Station}, {"channel", r.Channel}, {"port", r.Port},
                      {"port_stable_name", r.PortStableName}, {"image_path", r.ImagePath},
                      {"image_size", r.ImageSize}, {"image_sha256", r.ImageSha256},
                      {"ram_program_sha256", r.RamProgramSha256}, {"speed", r.Speed},
                      {"identification", r.Identification}, {"outcome", r.Outcome},
                      {"final_status", r.FinalStatus}, {"error_code", r.ErrorCode},
                      {"failure_c", nullptr}, {"failure_s", nullptr},
                      {"blocks_resent", r.BlocksResent}, {"bytes_sent", r.BytesSent},
                      {"seconds", r.Seconds}, {"program_version", r.ProgramVersion},
                      {"unit", r.Unit}, {"chosen_file", r.ChosenFile},
                      {"sent_sha256", r.SentSha256}, {"job_name", r.JobName},
                      {"job_version", r.JobVersion}, {"job_sha256", r.JobSha256}};
  j["serials"] = nlohmann::json::object();
  for (const auto &[field, text] : r.Serials)
    j["serials"][field] = text;
  if (r.FailureC)
    j["failure_c"] = *r.FailureC;
  if (r.FailureS)
    j["failure_s"] = *r.FailureS;
  return j;
}

// Texts from the handset are not always UTF-8: replace what is not.
std::string JsonText(const nlohmann::json &j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void WriteTableRow(std::ostream &out, const Record &r) {
  out << TerminalSafe(r.Started) << "  " << TerminalSafe(r.Station) << "  " << r.Channel << "  "
      << TerminalSafe(r.Port) << "  " << TerminalSafe(r.Outcome) << "  " << Fixed(r.Seconds, 1)
      << " s  " << TerminalSafe(r.ImageSha256.substr(0, 12)) << "  ";
  for (const auto &[field, text] : r.Serials)
    out << TerminalSafe(field) << '=' << TerminalSafe(text) << "  ";
  out << TerminalSafe(r.FinalStatus) << '\n';
}

} // namespace

std::optional<double> SummaryLine::Yield() const {
  if (Passed + Failed == 0)
    return std::nullopt;
  return double(Passed) / double(Passed + Failed);
}

namespace {

void CountRun(std::map<std::pair<std::string, int>, SummaryLine> &lines, const Record &r) {
  SummaryLine &line = lines[{r.Station, r.Channel}];
  line.Station = r.Station;
  line.Channel = r.Channel;
  if (!r.Unit)
    ++line.NoUnit;
  else if (r.Outcome == "passed")
    ++line.Passed;
  else if (r.Outcome == "stopped")
    ++line.Stopped;
  else
    ++line.Failed;
}

std::vector<SummaryLine> SortedLines(const std::map<std::pair<std::string, int>, SummaryLine> &lines) {
  std::vector<SummaryLine> out;
  for (const auto &[key, line] : lines)
    out.push_back(line);
  return out;
}

} // namespace

std::vector<SummaryLine> Summarise(const std::vector<Record> &records) {
  std::map<std::pair<std::string, int>, SummaryLine> lines;
  for (const Record &r : records)
    CountRun(lines, r);
  return SortedLines(lines);
}

std::string TerminalSafe(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      out += char(c);
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    out += escaped;
  }
  return out;
}

ListingWriter::ListingWriter(std::ostream &out, ListFormat format) : Out(out), Format(format) {
  if (Format == ListFormat::Csv)
    Out << CsvHeader << "\r\n";
  else if (Format == ListFormat::Json)
    Out << "{\n  \"records\": [";
}

void ListingWriter::Add(const Record &r) {
  CountRun(Lines, r);
  switch (Format) {
  case ListFormat::Csv:
    WriteCsvRow(Out, r);
    break;
  case ListFormat::Json:
    Out << (Count == 0 ? "\n    " : ",\n    ") << JsonText(JsonOf(r));
    break;
  case ListFormat::Table:
    WriteTableRow(Out, r);
    break;
  }
  ++Count;
}

void ListingWriter::Finish() {
  const std::vector<SummaryLine> summary = SortedLines(Lines);
  switch (Format) {
  case ListFormat::Csv:
    Out << "\r\nstation,channel,passed,failed,stopped,yield\r\n";
    for (const SummaryLine &s : summary)
      Out << CsvField(s.Station) << ',' << s.Channel << ',' << s.Passed << ',' << s.Failed
          << ',' << s.Stopped << ',' << YieldText(s) << "\r\n";
    break;
  case ListFormat::Json: {
    Out << (Count == 0 ? "],\n  \"summary\": [" : "\n  ],\n  \"summary\": [");
    bool first = true;
    for (const SummaryLine &s : summary) {
      auto yield = s.Yield();
      nlohmann::json line = {{"station", s.Station}, {"channel", s.Channel},
                             {"passed", s.Passed}, {"failed", s.Failed}, {"stopped", s.Stopped},
                             {"no_unit", s.NoUnit},
                             {"yield", yield ? nlohmann::json(*yield) : nlohmann::json(nullptr)}};
      Out << (first ? "\n    " : ",\n    ") << JsonText(line);
      first = false;
    }
    Out << (summary.empty() ? "]\n}\n" : "\n  ]\n}\n");
    break;
  }
  case ListFormat::Table:
    if (Count > 0)
      Out << '\n';
    for (const SummaryLine &s : summary)
      Out << TerminalSafe(s.Station) << " channel " << s.Channel << ": " << SummaryText(s)
          << '\n';
    if (Count == 0)
      Out << "no records\n";
    break;
  }
  Out << std::flush;
}

std::optional<ListFormat> ListFormatFromName(const std::string &name) {
  if (name == "table")
    return ListFormat::Table;
  if (name == "csv")
    return ListFormat::Csv;
  if (name == "json")
    return ListFormat::Json;
  return std::nullopt;
}

std::string SummaryText(const SummaryLine &line) {
  return "passed " + std::to_string(line.Passed) + ", failed " + std::to_string(line.Failed) +
         ", stopped " + std::to_string(line.Stopped) + ", yield " + YieldText(line) +
         (line.NoUnit > 0 ? ", no unit " + std::to_string(line.NoUnit) : std::string());
}

void SummaryTally::Add(const Record &record) { CountRun(Counts, record); }

std::vector<SummaryLine> SummaryTally::Lines() const { return SortedLines(Counts); }

void WriteCsvHeader(std::ostream &out) { out << CsvHeader << "\r\n"; }

void WriteCsvRecord(std::ostream &out, const Record &record) { WriteCsvRow(out, record); }

void WriteCsvSummary(std::ostream &out, const std::vector<SummaryLine> &summary) {
  out << "station,channel,passed,failed,stopped,no_unit,yield\r\n";
  for (const SummaryLine &s : summary)
    out << CsvField(s.Station) << ',' << s.Channel << ',' << s.Passed << ',' << s.Failed << ','
        << s.Stopped << ',' << s.NoUnit << ',' << YieldText(s) << "\r\n";
}

void WriteListing(std::ostream &out, const std::vector<Record> &records, ListFormat format) {
  ListingWriter writer(out, format);
  for (const Record &r : records)
    writer.Add(r);
  writer.Finish();
}

} // namespace kestrune::records
