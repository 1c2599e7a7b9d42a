// Flashing from the command line: loads the image, runs one worker per port
// side by side and reports each channel's outcome.
#pragma once

#include "engine/RepeatPlan.h"
#include "engine/RunReport.h"
#include "engine/UnitGate.h"
#include "engine/UnitValues.h"
#include "image/ImageBytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {
namespace records {
class Recorder;
class StationStateBoard;
}
class StopSignals;

struct FlashOptions {
  std::vector<std::string> Ports; // channel 1 first, at most StationChannelLimit
  uint8_t SpeedRow = 6;           // row of the line speed tables
  std::string Image;              // empty: use the image state as it is
  bool Verbose = false;           // also print the status colour changes
  bool Progress = false;          // draw progress bars (a terminal)
  std::string SummaryFile;        // tab-separated outcome per channel
  records::Recorder *Records = nullptr; // keeps a record of every run
  // Told every channel's state about twice a second while they run, for
  // the line's dashboard; null: none is kept.
  records::StationStateBoard *State = nullptr;
  RepeatPlan Repeat;              // off: one run per channel
  bool Json = false;              // JSON event lines on out instead of text lines
  // Set by a job: the loaded image must have this SHA-256, or no channel
  // starts; the job's title names it in the refusal.
  std::string ImageSha256;
  std::string JobTitle;
  std::string JobName, JobVersion, JobSha256; // on every run's report and record
  // The job's count of units, asked before each unit; and whether it was
  // found reached, which ends the job (exit status 3).
  std::shared_ptr<UnitGate> Gate;
  std::function<bool()> AllBuilt;
  // The program's own, taken over while the channels run and handed back
  // after; null: the run takes the signals itself.
  StopSignals *Signals = nullptr;
  // Makes the values written into each unit once the image is loaded;
  // null with the text when they cannot be had. Empty: no values.
  std::function<std::shared_ptr<UnitValues>(const ImageBytes &, std::string &)> UnitValuesFor;
};

enum class ChannelOutcome { Completed, Failed, Stopped };

// One unit's verdict: a run that came to passed or failed.
struct UnitVerdict {
  uint32_t Unit = 0; // the channel's count of units, from 1
  RunOutcome Outcome = RunOutcome::Failed;
  std::string Text;  // the failure's text, or the verdict's
};

// "unit 2 failed: ERROR ... (31)", "unit 3 passed".
std::string UnitVerdictText(const UnitVerdict &verdict);

struct ChannelResult {
  int Channel = 0;
  std::string Port;
  ChannelOutcome Outcome = ChannelOutcome::Failed;
  RunOutcome Run = RunOutcome::Failed; // the worker's own account of the run
  uint64_t Bytes = 0;                  // image bytes sent, re-sends included, all runs
  uint32_t Passed = 0;                 // runs that passed and failed (repeat mode: many)
  uint32_t Failed = 0;
  double Seconds = 0;
  std::string LastText;
  std::vector<UnitVerdict> Units; // every unit's verdict, in order
};

// Exit status: 0 when every channel completed, 1 otherwise (a failed load
// or a summary that could not be written included). SIGINT, SIGTERM and
// SIGHUP stop every channel.
// The exit status once a job's count of units is reached.
constexpr int UnitsBuiltExit = 3;

int RunFlash(const FlashOptions &options, std::ostream &out, std::ostream &progress,
             std::vector<ChannelResult> *results = nullptr);

const char *OutcomeName(ChannelOutcome outcome);

} // namespace kestrune
