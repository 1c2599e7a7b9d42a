#include "engine/RamProgramSource.h"

#include "image/ImageDigest.h"
#include "platform/RegularFileReader.h"

#include <mutex>

namespace kestrune {
namespace {

std::mutex ChoiceMutex;
std::shared_ptr<const RamProgramBytes> Choice;

// The built-in program, shared without a copy.
std::shared_ptr<const RamProgramBytes> BuiltIn() {
  return std::shared_ptr<const RamProgramBytes>(&RamProgram, [](const RamProgramBytes *) {});
}

} // namespace

RamProgramFile ReadRamProgramFile(const std::string &path) {
  RamProgramFile result;
  const std::string named = "RAM program file '" + path + "'";
  auto reader = CreateRegularFileReader();
  if (!reader->Open(path)) {
    if (!reader->NotRegular().empty())
      result.Error = named + " is " + reader->NotRegular() + ", not a file";
    else
      result.Error = "cannot open " + named + " (" + std::to_string(reader->LastError()) + ")";
    return result;
  }
  if (reader->Size() != RamProgramLength) {
    result.Error = named + " is " + std::to_string(reader->Size()) + " bytes; a RAM program is " +
                   "exactly " + std::to_string(RamProgramLength) + " bytes";
    return result;
  }
  auto program = std::make_shared<RamProgramBytes>();
  size_t filled = 0;
  while (filled < RamProgramLength) {
    size_t got = 0;
    if (!reader->Read(program->data() + filled, RamProgramLength - filled, got)) {
      result.Error = "cannot read " + named + " (" + std::to_string(reader->LastError()) + ")";
      return result;
    }
    if (got == 0) {
      result.Error = named + " shrank while it was read";
      return result;
    }
    filled += got;
  }
  result.Program = std::move(program);
  return result;
}

void UseRamProgram(std::shared_ptr<const RamProgramBytes> program) {
  std::lock_guard lock(ChoiceMutex);
  Choice = std::move(program);
}

std::shared_ptr<const RamProgramBytes> ChosenRamProgram() {
  std::lock_guard lock(ChoiceMutex);
  return Choice ? Choice : BuiltIn();
}

std::string RamProgramDigest(const RamProgramBytes &program) {
  if (&program == &RamProgram) {
    static const std::string BuiltInSum = Sha256Hex(RamProgram.data(), RamProgram.size());
    return BuiltInSum;
  }
  return Sha256Hex(program.data(), program.size());
}

bool BuiltInRamProgramChosen() {
  std::lock_guard lock(ChoiceMutex);
  return Choice == nullptr;
}

} // namespace kestrune
