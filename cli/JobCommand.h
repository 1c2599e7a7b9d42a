// The "job" subcommand: keygen, sign and verify, and the checks that run a
// job: its signature, its image's and RAM program's digests, all before any
// port opens.
#pragma once

#include "job/JobFile.h"
#include "job/JobSignature.h"

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

struct JobCliOptions {
  std::string PrivateKey, PublicKey; // keygen
  std::string Key;                   // sign
  std::string File;                  // sign, verify
  std::string TrustedKeys; // empty: the station's own folders
  bool AllowUnsigned = false;
  // status, release: where the job's count is kept and the station; empty:
  // the job's own, else the station's database and the host's name.
  std::string Records, Station;
  CLI::App *Keygen = nullptr, *Sign = nullptr, *Verify = nullptr;
  CLI::App *Status = nullptr, *Release = nullptr; // null without a count of units
};

CLI::App *AddJobCommand(CLI::App &app, JobCliOptions &options);

// Exit status 0, 1 when the job is refused or a step failed (for status and
// release: the job sets no count, or its count cannot be asked), 2 for a
// usage error.
int RunJobCommand(const JobCliOptions &options, std::ostream &out, std::ostream &errors);

// The trusted-key folders: the one given, else the station's own.
std::vector<std::string> TrustedFolders(const std::string &given);

// Whether the job's signature lets the station run it; the reason goes to
// errors when not. Notes about unreadable trusted keys go there too.
bool SignatureAllowsJob(const job::JobFile &job, const std::vector<std::string> &folders,
                        bool allowUnsigned, std::ostream &errors);

// The options of a flashing run that a job pins: given with --job they are a
// usage error.
const std::vector<const char *> &JobPinnedOptions();

} // namespace kestrune
