// One run on record: what was flashed, where, when and how it ended. Plain
// values only, so that every store and every format reads the same fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::records {

struct Record {
  std::string Id;            // UUID, the key everywhere the record goes
  std::string Started;       // UTC, ISO 8601 with milliseconds
  std::string Ended;
  std::string Station;       // host name unless overridden
  int Channel = 0;
  std::string Port;
  std::string PortStableName; // empty unless known
  std::string ChosenFile;    // the file the operator chose; ImagePath is the one sent
  std::string ImagePath;
  uint64_t ImageSize = 0;
  std::string ImageSha256;
  // Of the bytes sent to the unit: the image with the unit's serial values
  // written in (the same as ImageSha256 when none were).
  std::string SentSha256;
  // Every serial value written into the unit: field name and its text.
  std::vector<std::pair<std::string, std::string>> Serials;
  std::string RamProgramSha256;
  uint32_t Speed = 0;        // baud
  std::string Identification; // hex of the identification bytes
  std::string Outcome;       // passed, failed or stopped
  std::string FinalStatus;
  uint32_t ErrorCode = 0;
  std::optional<uint32_t> FailureC; // the handset's failure record
  std::optional<uint32_t> FailureS;
  uint32_t BlocksResent = 0;
  uint64_t BytesSent = 0;
  double Seconds = 0;
  std::string ProgramVersion;
  // The production job the run was part of (empty: none), and the SHA-256
  // of the job file's bytes.
  std::string JobName;
  std::string JobVersion;
  std::string JobSha256;
  // Whether a handset answered the boot ROM call: false for a run that
  // never reached one (port busy or gone, stopped while calling), which no
  // count or yield takes in.
  bool Unit = true;
};

} // namespace kestrune::records
