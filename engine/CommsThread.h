// The channel worker: one thread per running channel that owns the channel's
// serial port and runs the whole conversation with one handset per run. One
// class serves all channels, given its channel's row. In the station's
// repeat mode one worker runs one download after another, each with its own
// report and end-of-run notification, until it is stopped.
#pragma once

#include "engine/ChannelPanel.h"
#include "engine/WireBytes.h"
#include "engine/ChannelRow.h"
#include "engine/RepeatPlan.h"
#include "engine/RunPlan.h"
#include "engine/RunReport.h"
#include "engine/Watchdog.h"
#include "platform/SerialPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrune {

// Values of StopCode besides the platform's error codes.
constexpr uint32_t StopCodeRunning = 0;
constexpr uint32_t StopCodeOperator = 210;
constexpr uint32_t StopCodeGeneralFailure = 31;  // the failure's own code was 0
constexpr uint32_t StopCodeBadDevice = 1200;     // the RAM program refused the flash
constexpr uint32_t StopCodeUnitsBuilt = 1210;    // the job's gate let no unit start

// A repeating channel's text while the handset it flashed still answers.
constexpr const char *RemoveHandsetText = "Handset still connected: remove it";


class TCommsThread {
public:
  using TerminateHandler = std::function<void(TCommsThread &)>;

  // Creates the worker and starts its run at once; every run of it sends
  // what plan holds and keeps its limits. onTerminate runs on the
  // window's thread (through the panel) after every run; after the last one
  // (RunsOn() false) the worker frees itself once it returns. It is
  // registered before the thread can possibly end.
  // A port other than the platform's own (a recording or failing one in
  // tests) may be handed in.
  static TCommsThread *Start(const ChannelRow &row, ChannelPanel &panel, RunPlan plan,
                             TerminateHandler onTerminate,
                             std::unique_ptr<SerialPort> port = nullptr);

  TCommsThread(const TCommsThread &) = delete;
  TCommsThread &operator=(const TCommsThread &) = delete;

  // Asks the worker to stop; returns at once, never waits. Kept even when it
  // arrives before the run has begun.
  void RequestStop();

  const ChannelRow &Row() const { return ChannelRowRef; }
  uint32_t StopCodeValue() const { return StopCode.load(); }
  uint32_t FileErrorValue() const { return FileError; }
  // What the run came to; complete when the end-of-run notification runs.
  // Its FinalStatus is the first failure's text when the run failed.
  const RunReport &Report() const { return LastReport; }
  // Inside onTerminate: whether another run follows (repeat mode), the
  // number of the run that ended (from 1), and whether it was a later run
  // that ended while waiting for the next handset, before any answered.
  bool RunsOn() const { return MoreRuns; }
  uint32_t RunNumber() const { return RunsDone; }
  bool EndedWhileWaiting() const { return RunsDone > 1 && !HandsetAnswered; }

  // Blocks until every worker of the process has freed itself.
  static void WaitForAllWorkers();
  static int LiveWorkers();

private:
  TCommsThread(const ChannelRow &row, ChannelPanel &panel, RunPlan plan,
               TerminateHandler onTerminate, std::unique_ptr<SerialPort> port);
  ~TCommsThread() = default;
  void ThreadMain();

  // One run with its report and end-of-run notification; false when no
  // other run follows.
  bool RunOnce();
  // The run, in its fixed order of steps.
  void RunDownload();
  // A step threw: closes what the run holds and reports the failure.
  void EndAfterException(const char *what);

  // Reporting.
  void ShowStatus(const std::string &text);
  void ReportCommError(const std::string &text);
  void ReportFileError(const std::string &text);
  void ShowFailure(const std::string &text, uint32_t code);
  void FinishReport();
  void UpdateStatusBar();
  void SetBusyColour();
  void SetDoneColour();

  // Serial port access.
  void OpenCommPort();
  uint32_t WriteComm(const void *buffer, uint32_t count);
  uint32_t ReadComm(void *buffer, uint32_t count);
  uint32_t WaitForData();
  void SetBaudRate(uint32_t rate);
  bool ApplyLineRate(uint32_t rate);
  void PurgeComm();
  void WriteBytes(std::initializer_list<uint8_t> bytes);

  // Boot handshake and RAM program download.
  // The boot ROM call's read time-outs, rate and phase.
  void PrepareBootCall();
  void SyncWithTarget();
  // The boot ROM call of a repeat run: only the next handset counts.
  void WaitForNextHandset();
  // A repeat run: says once when the chosen image file has changed since
  // the plan's load, as the batch goes on with the plan's image.
  void NoteChangedImageFile();
  void SendRamProgram();
  void SendInChunks(const uint8_t *image, uint32_t length, uint32_t chunkSize);
  void ConfigureRamProgram();
  void SendMapCommand();
  void SendSegmentMap();
  void WaitForByte(uint8_t wanted);
  void WaitForOneByte();
  // True (and the run failed) once the handset has been silent past the
  // current wait's limit.
  bool HandsetSilent();

  // Flash erase and block programming.
  void ProgramFlash();
  void WaitForAckOrNak();
  void WaitForRecord();
  bool RunEraseReport();
  // The unit's values: claimed before the block holding the first is sent,
  // settled by the run's end before its record is kept.
  bool ClaimUnitValues();
  void SettleUnitValues();
  // The job's count of units: a place asked for before the unit starts
  // (waiting, stoppably, while others hold every place), given back with
  // the unit's outcome. False, the run failed or stopped, when none came.
  bool AdmitUnit();
  void FinishUnit();

  // Sleeps that a stop does not shorten are only a few milliseconds long.
  static void SleepMs(unsigned ms);

  // Every byte sent, but the RAM program image, is placed here first.
  uint8_t TxBuffer[FrameHeaderSize + ProgramBlockSize];
  // Answers are read into its start; only the first eight bytes are used.
  uint8_t RxBuffer[32788];
  std::unique_ptr<SerialPort> CommHandle;
  CommTimeouts Timeouts;
  kestrune::PortSettings PortSettings;
  uint32_t BytesRead = 0;
  uint32_t FileError = 0;
  std::atomic<uint32_t> StopCode{0};
  std::string StatusText;
  RunReport LastReport;
  bool FailureNoted = false;
  bool VerdictPassed = false;
  // What every run of this worker sends and the limits it keeps.
  const RunPlan Plan;
  // The run's watch over the handset's answers, armed from the plan.
  AnswerWatch Watch;
  bool ImageChangeNoted = false;
  // This run's claim on the plan's values, and whether a block holding one
  // has been written to the line.
  UnitValueClaim ValueClaim;
  bool ValuesClaimed = false;
  bool ValuesSent = false;
  bool UnitAdmitted = false; // this run holds a place of the plan's gate

  // Repeat mode: the plan's at first, then what the panel gave after the
  // latest run.
  RepeatPlan Repeat;
  uint32_t RunsDone = 0;
  bool MoreRuns = false;
  bool HandsetAnswered = false; // in this run, a boot ROM answered the call

  // The platform's code of the latest failed call, as GetLastError() gives it.
  uint32_t LastError = 0;
  std::atomic<bool> StopRequested{false};
  const ChannelRow &ChannelRowRef;
  ChannelPanel &Panel;
  TerminateHandler OnTerminate;
};

} // namespace kestrune
