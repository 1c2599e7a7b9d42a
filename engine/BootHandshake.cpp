// Catching the boot ROM, loading the RAM program and configuring it: line
// speed, identification, segment map and the flash type check.
#include "engine/CommsThread.h"
#include "engine/WireBytes.h"
#include "engine/LineSpeed.h"
#include "engine/RamProgram.h"
#include "image/ByteOrder.h"

namespace kestrune {
namespace {

constexpr uint32_t RamProgramChunk = 256;
// The identification is ten bytes, which a handset sends one per data wait.
constexpr uint32_t IdentificationWaits = 10;
constexpr uint32_t IdentificationBytes = 10;

} // namespace

void TCommsThread::WaitForByte(uint8_t wanted) {
  do {
    BytesRead = ReadComm(RxBuffer, 1);
  } while (RxBuffer[0] != wanted && StopCode == StopCodeRunning && !HandsetSilent());
}

void TCommsThread::WaitForOneByte() {
  do {
    BytesRead = ReadComm(RxBuffer, 1);
  } while (BytesRead == 0 && StopCode == StopCodeRunning && !HandsetSilent());
}

void TCommsThread::PrepareBootCall() {
  TxBuffer[0] = BootCallByte;
  Timeouts.ReadTotalMultiplier = 5;
  Timeouts.ReadTotalConstant = 1;
  if (!CommHandle->ApplyTimeouts(Timeouts)) {
    LastError = CommHandle->LastError();
    ReportCommError("Could not set COMM timeouts");
  }
  ApplyLineRate(LineRateTable[SpeedRowBoot]);
  Panel.SetRunPhase(RunPhase::WaitingForPowerOn);
}

void TCommsThread::SyncWithTarget() {
  if (StopCode != StopCodeRunning)
    return;
  RxBuffer[0] = 0xFF;
  PrepareBootCall();
  ShowStatus("전원 On/Reset Mobile");
  while (RxBuffer[0] != BootAnswerByte && StopCode == StopCodeRunning) {
    WriteComm(TxBuffer, 1);
    BytesRead = ReadComm(RxBuffer, 1);
  }
}

void TCommsThread::SendRamProgram() {
  if (StopCode == StopCodeRunning) {
    Panel.SetRunPhase(RunPhase::LoadingRamProgram);
    ShowStatus("Sending RAM program");
    PurgeComm();
    WriteBytes({RamProgramCommand});
    WriteBytes({0x00, 0x00, 0x00, 0x00});
    WriteBytes({uint8_t(RamProgramLoadAddress >> 24), uint8_t(RamProgramLoadAddress >> 16),
                uint8_t(RamProgramLoadAddress >> 8), uint8_t(RamProgramLoadAddress)});
    WriteBytes({0x00, 0x00});
    WriteBytes({uint8_t(RamProgramLength >> 8), uint8_t(RamProgramLength)});
    SendInChunks(Plan.RamProgram->data(), RamProgramLength, RamProgramChunk);
  }
  if (StopCode != StopCodeRunning)
    return;
  RxBuffer[0] = 0xDE;
  ShowStatus("RAM program loaded.");
  ShowStatus("Waiting for RAM program ACK.");
  // From here on the handset has answered the boot ROM call: every wait
  // for it is watched.
  Watch.Begin("RAM program ACK");
  WaitForByte(AckByte);
}

void TCommsThread::SendInChunks(const uint8_t *image, uint32_t length, uint32_t chunkSize) {
  uint32_t count = (length + chunkSize - 1) / chunkSize;
  Panel.SetProgressMaximum(count);
  Panel.SetProgressPosition(0);
  ShowStatus("Sending RAM program");
  for (uint32_t i = 0; i < count && StopCode == StopCodeRunning; ++i) {
    uint32_t size = i == count - 1 ? length - i * chunkSize : chunkSize;
    WriteComm(image, size);
    Panel.SetProgressPosition(i + 1);
    Panel.SetBytesSent(i * chunkSize + size, length);
    image += size;
  }
  ShowStatus("RAM program send completed");
}

void TCommsThread::ConfigureRamProgram() {
  if (StopCode != StopCodeRunning || FileError != 0)
    return;
  ShowStatus("RAM program ACK received.");
  // The run's own speed, chosen when it started: the code and the rate
  // come from the plan's one row, whatever other channels chose since.
  const LineSpeedRow &speed = Plan.Speed;
  // Once the speed code is out the handset changes its rate: a port that
  // cannot follow must say so now, while both ends are still at the boot
  // rate.
  if (!CommHandle->AcceptsRate(speed.Rate)) {
    LastError = CommHandle->LastError();
    ReportCommError("Port cannot run at " + std::to_string(speed.Rate) + " baud");
    return;
  }
  WriteBytes({AckByte});
  WriteBytes({0x01, 0x00, 0x00, 0x00});
  WriteBytes({speed.Code});
  ShowStatus("Baud rate settings sent");
  SetBaudRate(speed.Rate);
  if (StopCode != StopCodeRunning || FileError != 0)
    return;
  ShowStatus("Waiting for man ID and device ID");
  WriteBytes({AckByte});
  WriteBytes({0x00});
  // Ten waits, or fewer once all ten bytes are in: a host thread held up
  // for longer than the handset's gap between two bytes reads both at once,
  // and a further wait would then never end.
  Watch.Begin("identification");
  uint32_t received = 0;
  for (uint32_t i = 0; i < IdentificationWaits && received < IdentificationBytes; ++i) {
    uint32_t got = WaitForData();
    received += got;
    LastReport.Identification.insert(LastReport.Identification.end(), RxBuffer, RxBuffer + got);
  }
  SendMapCommand();
  WriteBytes({AckByte});
  ShowStatus("Waiting for ACK of flash type");
  Watch.Begin("flash type answer");
  WaitForOneByte();
  if (RxBuffer[0] != AckByte) {
    LastError = StopCodeBadDevice;
    ReportCommError("Device not supported by RAM program");
  }
}

void TCommsThread::SendMapCommand() {
  WriteBytes({AckByte});
  WriteBytes({0x02});
  WriteBytes({0x01, 0x00, 0x00, 0x00});
  Watch.Begin("map answer");
  WaitForOneByte();
  if (RxBuffer[0] != MapAnswerByte)
    ShowStatus(" Error Occurred !!");
  SendSegmentMap();
}

void TCommsThread::SendSegmentMap() {
  WriteBigEndian16(TxBuffer, SegmentCount);
  WriteComm(TxBuffer, 2);
  ShowStatus("Sending segment map.");
  for (uint32_t address : SegmentMap) {
    WriteBigEndian32(TxBuffer, address);
    WriteComm(TxBuffer, 4);
  }
}

} // namespace kestrune
