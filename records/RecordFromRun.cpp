#include "records/RecordFromRun.h"

#include "image/ByteOrder.h"
#include "image/HexText.h"
#include "records/RecordTime.h"
#include "records/Uuid.h"

namespace kestrune::records {
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
  // What the run used, as its plan gave it to the worker.
  r.ChosenFile = report.ChosenFile;
  r.ImagePath = report.ImagePath;
  r.ImageSize = report.ImageSize;
  r.ImageSha256 = report.ImageSha256;
  r.SentSha256 = report.SentSha256.empty() ? report.ImageSha256 : report.SentSha256;
  r.Serials = report.Serials;
  r.RamProgramSha256 = report.RamProgramSha256;
  r.Speed = report.LineRate;
  r.Identification = LowerHexBytes(report.Identification.data(), report.Identification.size());
  r.Outcome = RunOutcomeName(report.Outcome);
  r.FinalStatus = report.FinalStatus;
  r.ErrorCode = report.ErrorCode;
  if (report.FailureRecord) {
    r.FailureC = ReadBigEndian32(report.FailureRecord->data());
    r.FailureS = ReadBigEndian32(report.FailureRecord->data() + 4);
  }
  r.BlocksResent = report.BlocksResent;
  r.BytesSent = report.BytesSent;
  r.Seconds = std::chrono::duration<double>(report.Ended - report.Started).count();
  r.ProgramVersion = ProgramVersion();
  r.Unit = report.Unit;
  r.JobName = report.JobName;
  r.JobVersion = report.JobVersion;
  r.JobSha256 = report.JobSha256;
  return r;
}

} // namespace kestrune::records
