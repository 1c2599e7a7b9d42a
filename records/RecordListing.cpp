#include "records/RecordListing.h"

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
    "failure_c,failure_s,blocks_resent,bytes_sent,seconds,program_version,unit";

void WriteCsv(std::ostream &out, const std::vector<Record> &records) {
  out << CsvHeader << "\r\n";
  for (const Record &r : records) {
    const std::string fields[] = {r.Id, r.Started, r.Ended, r.Station,
                                  std::to_string(r.Channel), r.Port, r.PortStableName,
                                  r.ImagePath, std::to_string(r.ImageSize), r.ImageSha256,
                                  r.RamProgramSha256, std::to_string(r.Speed), r.Identification,
                                  r.Outcome, r.FinalStatus, std::to_string(r.ErrorCode),
                                  Optional(r.FailureC), Optional(r.FailureS),
                                  std::to_string(r.BlocksResent), std::to_string(r.BytesSent),
                                  Fixed(r.Seconds, 3), r.ProgramVersion,
                                  r.Unit ? "true" : "false"};
    bool first = true;
    for (const std::string &f : fields) {
      out << (first ? "" : ",") << CsvField(f);
      first = false;
    }
    out << "\r\n";
  }
  out << "\r\nstation,channel,passed,failed,stopped,yield\r\n";
  for (const SummaryLine &s : Summarise(records))
    out << CsvField(s.Station) << ',' << s.Channel << ',' << s.Passed << ',' << s.Failed << ','
        << s.Stopped << ',' << YieldText(s) << "\r\n";
}

void WriteJson(std::ostream &out, const std::vector<Record> &records) {
  nlohmann::json list = nlohmann::json::array();
  for (const Record &r : records) {
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
                        {"unit", r.Unit}};
    if (r.FailureC)
      j["failure_c"] = *r.FailureC;
    if (r.FailureS)
      j["failure_s"] = *r.FailureS;
    list.push_back(std::move(j));
  }
  nlohmann::json summary = nlohmann::json::array();
  for (const SummaryLine &s : Summarise(records)) {
    auto yield = s.Yield();
    summary.push_back({{"station", s.Station}, {"channel", s.Channel}, {"passed", s.Passed},
                       {"failed", s.Failed}, {"stopped", s.Stopped}, {"no_unit", s.NoUnit},
                       {"yield", yield ? nlohmann::json(*yield) : nlohmann::json(nullptr)}});
  }
  // Texts from the handset are not always UTF-8: replace what is not.
  out << nlohmann::json{{"records", list}, {"summary", summary}}.dump(
             2, ' ', false, nlohmann::json::error_handler_t::replace)
      << '\n';
}

void WriteTable(std::ostream &out, const std::vector<Record> &records) {
  for (const Record &r : records)
    out << r.Started << "  " << r.Station << "  " << r.Channel << "  " << r.Port << "  "
        << r.Outcome << "  " << Fixed(r.Seconds, 1) << " s  "
        << r.ImageSha256.substr(0, 12) << "  " << r.FinalStatus << '\n';
  if (!records.empty())
    out << '\n';
  for (const SummaryLine &s : Summarise(records))
    out << s.Station << " channel " << s.Channel << ": " << SummaryText(s) << '\n';
  if (records.empty())
    out << "no records\n";
}

} // namespace

std::optional<double> SummaryLine::Yield() const {
  if (Passed + Failed == 0)
    return std::nullopt;
  return double(Passed) / double(Passed + Failed);
}

std::vector<SummaryLine> Summarise(const std::vector<Record> &records) {
  std::map<std::pair<std::string, int>, SummaryLine> lines;
  for (const Record &r : records) {
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
  std::vector<SummaryLine> out;
  for (auto &[key, line] : lines)
    out.push_back(line);
  return out;
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

void WriteListing(std::ostream &out, const std::vector<Record> &records, ListFormat format) {
  switch (format) {
  case ListFormat::Csv:
    return WriteCsv(out, records);
  case ListFormat::Json:
    return WriteJson(out, records);
  case ListFormat::Table:
    return WriteTable(out, records);
  }
}

} // namespace kestrune::records
