#include "tests/records/RecordsTestSupport.h"

#include "records/Uuid.h"
#include "tests/support/TestFiles.h"

namespace kestrune::records::test {

TempDir::TempDir() : Dir(kestrune::test::MakeScratchDirectory("kestrune-rec-")) {}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
}

Record SampleRecord(const std::string &station, int channel, const std::string &started,
                    const std::string &outcome) {
  Record r;
  r.Id = NewUuid();
  r.Started = started;
  r.Ended = started;
  r.Station = station;
  r.Channel = channel;
  r.Port = "/dev/ttyUSB" + std::to_string(channel - 1);
  r.ChosenFile = "/srv/images/phone.mot";
  r.ImagePath = "/srv/images/phone.bif";
  r.ImageSize = 1234;
  r.ImageSha256 = std::string(64, 'a');
  r.RamProgramSha256 = std::string(64, 'b');
  r.Speed = 921600;
  r.Identification = "0102";
  r.Outcome = outcome;
  r.FinalStatus = outcome == "passed" ? "다운로드 완료 !!!!!!!!!!!!!!!!!" : "ERROR, with \"quotes\"";
  r.ErrorCode = outcome == "passed" ? 0 : 31;
  r.Seconds = 12.5;
  r.ProgramVersion = "0.1";
  return r;
}

} // namespace kestrune::records::test
