// The command line of kestrune-handset, turned into options.
#pragma once

#include "handset/HandsetOptions.h"

#include <string>

namespace kestrune::handset {

struct CommandLine {
  HandsetOptions Options;
  bool UsePty = false;
  std::string DevicePath;
};

// Parses the arguments. Returns -1 when the handset should run, otherwise
// the exit code (0 after --help, 2 after a usage error, with the text
// printed).
int ParseCommandLine(int argc, const char *const *argv, CommandLine &line);

} // namespace kestrune::handset
