// Which RAM program the workers send: the built-in reference program
// (engine/RamProgram.h) or a handset family's own loader read from a file.
// The choice is the station's setting; each run's plan takes the program
// chosen when the run starts and keeps it to its end.
#pragma once

#include "engine/RamProgram.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

using RamProgramBytes = std::array<uint8_t, RamProgramLength>;

// Reads a RAM program file. It must be a regular file of exactly
// RamProgramLength bytes; otherwise the result holds no program and the
// reason (naming the file) for the operator.
struct RamProgramFile {
  std::shared_ptr<const RamProgramBytes> Program;
  std::string Error;
};
RamProgramFile ReadRamProgramFile(const std::string &path);

// Sends this program from the next run on; nullptr: the built-in one.
void UseRamProgram(std::shared_ptr<const RamProgramBytes> program);
// The program a run beginning now sends (never null).
std::shared_ptr<const RamProgramBytes> ChosenRamProgram();
bool BuiltInRamProgramChosen();
// SHA-256 of a program, lower-case hex (the built-in one's is worked out
// once).
std::string RamProgramDigest(const RamProgramBytes &program);

} // namespace kestrune
