#include "records/RecordFromRun.h"

#include "engine/RamProgram.h"
#include "records/RecordTime.h"
#include "records/Uuid.h"

namespace kestrune::records {
namespace {

uint32_t BigEndian32(const uint8_t *at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

std::string Hex(const std::vector<uint8_t> &bytes) {
  static const char Digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += Digits[b >> 4];
    text += Digits[b & 15];
  }
  return text;
}

} // namespace

const std::string &RamProgramSha256() {
  static const std::string Sum = Sha256Hex(RamProgram.data(), RamProgram.size());
  return Sum;
}

const char *ProgramVersion() { return KESTRUNE_VERSION; }

Record RecordFromRun(const RunReport &report, const RunContext &context) {
  Record r;
  r.Id = NewUuid();
  r.Started = IsoUtcTime(report.Started);
  r.Ended = IsoUtcTime(report.Ended);
  r.Station = context.Station;
  r.Channel = report.Channel;
  r.Port = report.Port;
  r.PortStableName = context.PortStableName;
  r.ImagePath = context.Image.Path;
  r.ImageSize = context.Image.Size;
  r.ImageSha256 = context.Image.Sha256;
  r.RamProgramSha256 = RamProgramSha256();
  r.Speed = report.LineRate;
  r.Identification = Hex(report.Identification);
  r.Outcome = RunOutcomeName(report.Outcome);
  r.FinalStatus = report.FinalStatus;
  r.ErrorCode = report.ErrorCode;
  if (report.FailureRecord) {
    r.FailureC = BigEndian32(report.FailureRecord->data());
    r.FailureS = BigEndian32(report.FailureRecord->data() + 4);
  }
  r.BlocksResent = report.BlocksResent;
  r.BytesSent = report.BytesSent;
  r.Seconds = std::chrono::duration<double>(report.Ended - report.Started).count();
  r.ProgramVersion = ProgramVersion();
  return r;
}

} // namespace kestrune::records
