// The worker's serial port access: open and configure, one write, one read,
// the wait for data, and the change of line speed during a run.
#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"

namespace kestrune {
namespace {

constexpr uint32_t InputQueueBytes = 16584;
constexpr CommTimeouts OpenTimeouts{0, 400, 50, 0, 0};

} // namespace

void TCommsThread::OpenCommPort() {
  LastReport.Port = Panel.PortText();
  if (!CommHandle->Open(LastReport.Port)) {
    LastError = CommHandle->LastError();
    ReportCommError("해당 COMM port 를 열 수 없습니다.");
    return;
  }
  LastReport.PortOpened = true;
  ShowStatus("Opened COMM port");
  CommHandle->SetQueueSizes(InputQueueBytes, 0);
  CommHandle->GetSettings(PortSettings);
  PortSettings.BaudRate = LineRateTable[SpeedRowOpen];
  PortSettings.ByteSize = 8;
  PortSettings.StopBits = 2;
  PortSettings.ParityCheck = false;
  PortSettings.OutxCtsFlow = false;
  PortSettings.OutxDsrFlow = false;
  PortSettings.DtrOn = false;
  PortSettings.RtsOn = false;
  PortSettings.OutX = false;
  PortSettings.InX = false;
  if (!CommHandle->ApplySettings(PortSettings)) {
    LastError = CommHandle->LastError();
    ReportCommError("Could not setup COMM port");
  }
  Timeouts = OpenTimeouts;
  if (!CommHandle->ApplyTimeouts(Timeouts)) {
    LastError = CommHandle->LastError();
    ReportCommError("Could not set COMM timeouts");
  }
  PurgeComm();
}

void TCommsThread::PurgeComm() { CommHandle->Purge(true, true); }

uint32_t TCommsThread::WriteComm(const void *buffer, uint32_t count) {
  uint32_t written = 0;
  if (!CommHandle->Write(buffer, count, written)) {
    LastError = CommHandle->LastError();
    ReportCommError("Could not write to COMM port");
    return 0;
  }
  return written;
}

uint32_t TCommsThread::ReadComm(void *buffer, uint32_t count) {
  uint32_t received = 0;
  if (!CommHandle->Read(buffer, count, received)) {
    LastError = CommHandle->LastError();
    ReportCommError("Could not read from COMM port");
  }
  if (received > 0)
    Watch.Heard();
  return received;
}

uint32_t TCommsThread::WaitForData() {
  do {
    BytesRead = ReadComm(RxBuffer, 8);
  } while (BytesRead == 0 && StopCode == StopCodeRunning && !HandsetSilent());
  return BytesRead;
}

bool TCommsThread::ApplyLineRate(uint32_t rate) {
  PortSettings.BaudRate = rate;
  if (CommHandle->ApplySettings(PortSettings))
    return true;
  LastError = CommHandle->LastError();
  ReportCommError("Could not setup COMM port");
  return false;
}

void TCommsThread::SetBaudRate(uint32_t rate) {
  if (!CommHandle->IsOpen()) {
    LastError = CommHandle->LastError();
    ReportCommError("해당 COMM port 를 열 수 없습니다.");
    return;
  }
  CommHandle->Drain();
  SleepMs(10);
  if (!ApplyLineRate(rate))
    return;
  PurgeComm();
  ShowStatus("Port set to " + std::to_string(rate) + " baud");
  SleepMs(10);
}

void TCommsThread::WriteBytes(std::initializer_list<uint8_t> bytes) {
  uint32_t n = 0;
  for (uint8_t b : bytes)
    TxBuffer[n++] = b;
  WriteComm(TxBuffer, n);
}

} // namespace kestrune
