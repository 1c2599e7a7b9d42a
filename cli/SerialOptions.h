// The command line's serial values: --serial names the scheme whose
// values go into every unit, --serial-lease how many a station takes from
// the line's server at a time. The values come from this station's records
// database, or with a server URL for --records from the line's server.
#pragma once

#include "cli/RecordsOptions.h"
#include "engine/UnitValues.h"
#include "image/ImageBytes.h"
#include "job/JobFile.h"
#include "serial/SerialScheme.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace kestrune {

struct SerialCliOptions {
  std::string Scheme; // empty: every unit gets the image as it is
  uint64_t LeaseSize = 1000;
};

void AddSerialOptions(CLI::App &app, SerialCliOptions &options);

using UnitValuesMaker =
    std::function<std::shared_ptr<UnitValues>(const ImageBytes &image, std::string &error)>;

// Reads and checks the scheme (before any port opens). Empty on success
// with maker set (left empty without --serial); else the operator's text.
// The maker opens the ledger and places the scheme in the loaded image;
// it says on notes the next value and what is left of each field.
std::string PrepareSerials(const SerialCliOptions &options, const RecordsCliOptions &records,
                           std::ostream &notes, UnitValuesMaker &maker);

// The same for the scheme a job pins: inline, or its file, whose bytes must
// have the SHA-256 the job names. The lease size is the options' own.
std::string PrepareJobSerials(const job::JobFile &job, const SerialCliOptions &options,
                              const RecordsCliOptions &records, std::ostream &notes,
                              UnitValuesMaker &maker);

} // namespace kestrune
