#include "job/JobFile.h"

#include "engine/LineSpeed.h"
#include "engine/Watchdog.h"
#include "image/ImageDigest.h"
#include "platform/Utf8Paths.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace kestrune::job {
namespace {

using nlohmann::json;

const std::set<std::string> KnownMembers{
    "name",   "version", "image",  "ram_program", "speed",   "watchdog",  "resend_limit",
    "repeat", "swap_silence", "serial", "units", "records", "station", "signature",
    "confirm_digest"};

bool IsDigest(const std::string &text) {
  if (text.size() != 64)
    return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  return true;
}

std::string Absolute(const std::string &path, const std::string &folder) {
  std::filesystem::path p = PathFromUtf8(path);
  if (p.is_absolute() || folder.empty())
    return path;
  return Utf8FromPath((PathFromUtf8(folder) / p).lexically_normal());
}

// A member that must be a non-empty text.
std::string Text(const json &document, const char *member, std::string &into) {
  const json &value = document.at(member);
  if (!value.is_string() || value.get<std::string>().empty())
    return std::string("job member '") + member + "' must be a non-empty text";
  into = value.get<std::string>();
  return {};
}

// A file member: {"path": ..., "sha256": ...} and nothing else.
std::string FileMember(const json &document, const char *member, const std::string &folder,
                       std::string &path, std::string &digest) {
  const json &value = document.at(member);
  const std::string name = std::string("job member '") + member + "'";
  if (!value.is_object())
    return name + " must be an object with 'path' and 'sha256'";
  for (const auto &item : value.items())
    if (item.key() != "path" && item.key() != "sha256")
      return name + " has an unknown member '" + item.key() + "'";
  if (!value.contains("path") || !value["path"].is_string() ||
      value["path"].get<std::string>().empty())
    return name + " needs a 'path' text";
  if (!value.contains("sha256") || !value["sha256"].is_string() ||
      !IsDigest(value["sha256"].get<std::string>()))
    return name + " needs a 'sha256' of 64 lower-case hex digits";
  path = Absolute(value["path"].get<std::string>(), folder);
  digest = value["sha256"].get<std::string>();
  return {};
}

// A whole number member within [low, high].
std::string Count(const json &document, const char *member, uint64_t low, uint64_t high,
                  uint64_t &into) {
  const json &value = document.at(member);
  // A whole number made in code is signed even when it is not negative.
  const bool whole = value.is_number_unsigned() ||
                     (value.is_number_integer() && value.get<int64_t>() >= 0);
  if (!whole || value.get<uint64_t>() < low || value.get<uint64_t>() > high)
    return std::string("job member '") + member + "' must be a whole number from " +
           std::to_string(low) + " to " + std::to_string(high);
  into = value.get<uint64_t>();
  return {};
}

} // namespace

JobFile::JobFile() : WatchdogSeconds(DefaultWatchdogSeconds), ResendLimit(DefaultResendLimit) {}

std::string CheckJob(const json &document, const std::string &folder, JobFile &job) {
  if (!document.is_object())
    return "a job file holds one JSON object";
  for (const auto &item : document.items())
    if (!KnownMembers.count(item.key()))
      return "unknown job member '" + item.key() + "'";
  JobFile made;
  for (const char *member : {"name", "version", "image"})
    if (!document.contains(member))
      return std::string("job member '") + member + "' is missing";
  std::string problem = Text(document, "name", made.Name);
  if (problem.empty())
    problem = Text(document, "version", made.Version);
  if (problem.empty())
    problem = FileMember(document, "image", folder, made.ImagePath, made.ImageSha256);
  if (problem.empty() && document.contains("ram_program"))
    problem = FileMember(document, "ram_program", folder, made.RamProgramPath,
                         made.RamProgramSha256);
  if (!problem.empty())
    return problem;
  if (document.contains("speed")) {
    const json &speed = document["speed"];
    const int row = speed.is_string() ? SpeedRowForName(speed.get<std::string>().c_str()) : -1;
    if (row < 0)
      return "job member 'speed' must be \"115K\", \"460K\" or \"920K\"";
    made.Speed = speed.get<std::string>();
    made.SpeedRow = uint8_t(row);
  }
  uint64_t number = 0;
  if (document.contains("watchdog")) {
    if (problem = Count(document, "watchdog", 0, MaxWatchdogSeconds, number); !problem.empty())
      return problem;
    made.WatchdogSeconds = uint32_t(number);
  }
  if (document.contains("resend_limit")) {
    if (problem = Count(document, "resend_limit", 0, MaxResendLimit, number); !problem.empty())
      return problem;
    made.ResendLimit = uint32_t(number);
  }
  if (document.contains("repeat")) {
    if (problem = Count(document, "repeat", 0, UINT32_MAX, number); !problem.empty())
      return problem;
    made.Repeat = uint32_t(number);
  }
  if (document.contains("swap_silence")) {
    const json &silence = document["swap_silence"];
    if (!silence.is_number() || silence.get<double>() < 0.05 || silence.get<double>() > 3600.0)
      return "job member 'swap_silence' must be seconds from 0.05 to 3600";
    if (!made.Repeat)
      return "job member 'swap_silence' needs 'repeat'";
    made.SwapSilenceSeconds = silence.get<double>();
  }
  if (document.contains("serial")) {
    const json &serial = document["serial"];
    if (!serial.is_object())
      return "job member 'serial' must be an object: a serial scheme, or 'path' and 'sha256'";
    if (serial.contains("path") || serial.contains("sha256")) {
      if (problem = FileMember(document, "serial", folder, made.SerialPath, made.SerialSha256);
          !problem.empty())
        return problem;
    } else {
      // Its form is the scheme's own, checked whole when the job runs.
      made.Serial = serial;
    }
  }
  if (document.contains("units")) {
    if (problem = Count(document, "units", 1, UINT32_MAX, number); !problem.empty())
      return problem;
    made.Units = number;
  }
  if (document.contains("records") && (problem = Text(document, "records", made.Records)) != "")
    return problem;
  if (document.contains("station") && (problem = Text(document, "station", made.Station)) != "")
    return problem;
  if (document.contains("confirm_digest")) {
    if (!document["confirm_digest"].is_boolean())
      return "job member 'confirm_digest' must be true or false";
    made.ConfirmDigest = document["confirm_digest"].get<bool>();
  }
  if (document.contains("signature")) {
    if (!document["signature"].is_object())
      return "job member 'signature' must be an object";
    made.Signature = document["signature"];
  }
  made.Document = document;
  made.Folder = folder;
  job = std::move(made);
  return {};
}

std::string ReadJobFile(const std::string &path, JobFile &job) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in)
    return "cannot open job file '" + path + "'";
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad())
    return "cannot read job file '" + path + "'";
  json document = json::parse(bytes, nullptr, false);
  if (document.is_discarded())
    return "job file '" + path + "' is not JSON";
  std::filesystem::path folder = std::filesystem::absolute(PathFromUtf8(path)).parent_path();
  std::string problem = CheckJob(document, Utf8FromPath(folder), job);
  if (!problem.empty())
    return "job file '" + path + "': " + problem;
  job.FileSha256 = Sha256Hex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  return {};
}

std::string CanonicalContent(const json &document) {
  json content = document;
  if (content.is_object())
    content.erase("signature");
  return content.dump();
}

bool HasSerialScheme(const JobFile &job) { return !job.Serial.is_null() || !job.SerialPath.empty(); }

std::string DigestPrefix(const JobFile &job) { return job.ImageSha256.substr(0, 8); }

std::string JobTitle(const JobFile &job) { return job.Name + " " + job.Version; }

} // namespace kestrune::job
