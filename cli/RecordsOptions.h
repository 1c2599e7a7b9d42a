// The command line's record keeping: --records and --station for flashing,
// and the "records" subcommand that lists what was kept.
#pragma once

#include "records/Recorder.h"
#include "records/StateWriter.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <string>

namespace kestrune {

struct RecordsCliOptions {
  std::string Target;  // URL, file or "none"; empty: the default file
  std::string Station; // empty: the host name
};

void AddRecordsOptions(CLI::App &app, RecordsCliOptions &options);

// The recorder for a flashing run; its notices go to errors, once each.
// Empty when target is none, a file path or a server address libpq reads;
// otherwise the usage error, without the password.
std::string RecordsTargetProblem(const std::string &target);

std::unique_ptr<records::Recorder> StartRecorder(const RecordsCliOptions &options,
                                                 std::ostream &errors);

// With a server address: the writer of this station's live channel state
// for the line's dashboard, its notices to errors. Null otherwise.
std::unique_ptr<records::StateWriter> StartStateWriter(const records::Recorder &recorder,
                                                       const records::StationStateBoard &board,
                                                       std::ostream &errors);

struct RecordsListOptions {
  std::string Target;
  std::string Since;
  std::string Station;
  std::string Serial; // only the runs that wrote this serial value
  std::string JobName;    // only the runs of this job, every version
  std::string JobVersion; // with JobName: only this version of it
  std::string Format = "table";
};

// Adds the "records" subcommand.
CLI::App *AddRecordsCommand(CLI::App &app, RecordsListOptions &options);

// Lists the records. Exit status 0, 1 when they cannot be read, 2 for a
// usage error.
int RunRecordsCommand(const RecordsListOptions &options, std::ostream &out, std::ostream &errors);

} // namespace kestrune
