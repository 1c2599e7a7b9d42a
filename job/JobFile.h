// A production job: the file a supervisor prepares so that a station flashes
// one image, with one RAM program and one set of run settings, and nothing
// else. The job is read and checked whole before any port opens.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune::job {

struct JobFile {
  std::string Name;
  std::string Version;
  std::string ImagePath;        // absolute: relative names are taken from the job's folder
  std::string ImageSha256;      // of the bytes sent, lower-case hex
  std::string RamProgramPath;   // empty: the built-in program
  std::string RamProgramSha256; // set exactly when RamProgramPath is
  std::string Speed = "920K";   // one of the speed texts
  uint8_t SpeedRow = 6;
  uint32_t WatchdogSeconds;
  uint32_t ResendLimit;
  std::optional<uint32_t> Repeat; // runs per channel; 0 until stopped; absent: one run
  std::optional<double> SwapSilenceSeconds;
  // The serial scheme: inline (Serial, its list files named from Folder),
  // or a scheme file and the SHA-256 of its bytes. Neither: no values.
  nlohmann::json Serial;          // null when the scheme is not inline
  std::string SerialPath;         // absolute, like ImagePath
  std::string SerialSha256;
  std::optional<uint64_t> Units;  // how many units may pass under this job
  std::string Records;            // empty: the station's own records
  std::string Station;            // empty: the host's name
  // The operator types the image digest's first 8 hex digits before the
  // first unit (the window).
  bool ConfirmDigest = false;
  nlohmann::json Signature;       // null when unsigned
  nlohmann::json Document;        // the whole object as read
  std::string FileSha256;         // of the job file's bytes, lower-case hex
  std::string Folder;             // the job file's folder: relative names start there
  JobFile();
};

// Checks a parsed job object; relative paths are taken from folder. Empty on
// success, else the operator's text naming the member that is wrong.
std::string CheckJob(const nlohmann::json &document, const std::string &folder, JobFile &job);

// Reads and checks the job file at path.
std::string ReadJobFile(const std::string &path, JobFile &job);

// What is signed: the object without its "signature" member, keys sorted, no
// whitespace.
std::string CanonicalContent(const nlohmann::json &document);

// Whether the job pins a serial scheme.
bool HasSerialScheme(const JobFile &job);

// The image digest's first 8 hex digits, as the window shows them and the
// operator types them.
std::string DigestPrefix(const JobFile &job);

// "fw-line-a 1" for texts.
std::string JobTitle(const JobFile &job);

} // namespace kestrune::job
