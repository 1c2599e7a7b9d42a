// What one channel run came to, for every front end that shows, counts or
// records runs. The worker fills it as the run goes; it is complete when the
// end-of-run notification runs, and read only on that notification's thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

// How a run ended. Every run lands in exactly one of them.
enum class RunOutcome {
  Passed,  // the handset's verdict was an ACK
  Failed,  // any error, the handset's refusals included
  Stopped, // Stop, Stop All or closing the window
};

// One word for the outcome, as front ends and records show it.
inline const char *RunOutcomeName(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Passed:
    return "passed";
  case RunOutcome::Failed:
    return "failed";
  case RunOutcome::Stopped:
    return "stopped";
  }
  return "failed";
}

struct RunReport {
  using Clock = std::chrono::system_clock;

  int Channel = 0;          // 1 to 8 in the window; 1 to N in the command line
  std::string Port;         // the port's name as the channel used it
  Clock::time_point Started;
  Clock::time_point Ended;
  bool PortOpened = false;  // false: the run ended before its port was open
  // What the run used, from its plan (see VisitRunUsed).
  uint32_t LineRate = 0;    // the rate switched to, in baud
  std::string ChosenFile;   // the file the operator chose (a .mot, .bif or .bin), absolute
  std::string ImagePath;    // the file the image's bytes were read from
  uint64_t ImageSize = 0;   // that file's length
  std::string ImageSha256;  // of those bytes, as read
  // Of the bytes sent to this unit: the file's with the unit's values
  // written in, or the same as ImageSha256 while no values were claimed.
  std::string SentSha256;
  // The values written into this unit (field name, text), once claimed.
  std::vector<std::pair<std::string, std::string>> Serials;
  std::string RamProgramSha256; // of the RAM program sent
  std::string JobName;          // the production job's, empty without one
  std::string JobVersion;
  std::string JobSha256;        // of the job file's bytes
  std::vector<uint8_t> Identification; // bytes received during identification

  RunOutcome Outcome = RunOutcome::Failed;
  // A handset answered the boot ROM call. A run that reached none (its port
  // busy or gone, stopped while calling) touched no unit: it is shown and
  // kept on record, but no count or yield takes it in.
  bool Unit = true;
  std::string FinalStatus;  // the first failure's text, or the verdict's text
  uint32_t ErrorCode = 0;   // StopCode at the end: 0 passed, 210 stopped
  std::optional<std::array<uint8_t, 8>> FailureRecord; // the handset's C and S record
  uint32_t BlocksResent = 0;
  uint64_t BytesSent = 0;   // image bytes sent in blocks, re-sends included
};

// The fields of what a run used, under the names the records and the
// command line's JSON events both give them: one list for both.
template <typename Visit> void VisitRunUsed(const RunReport &report, Visit &&visit) {
  visit("chosen_file", report.ChosenFile);
  visit("image_path", report.ImagePath);
  visit("image_size", report.ImageSize);
  visit("image_sha256", report.ImageSha256);
  visit("sent_sha256", report.SentSha256);
  visit("ram_program_sha256", report.RamProgramSha256);
  visit("speed", report.LineRate);
  visit("job_name", report.JobName);
  visit("job_version", report.JobVersion);
  visit("job_sha256", report.JobSha256);
}

} // namespace kestrune
