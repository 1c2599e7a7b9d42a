#include "engine/CommsThread.h"
#include "platform/ImageFileReader.h" // RaiseCurrentThreadPriority
#include "platform/TimerResolution.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace kestrune {
namespace {

// Workers free themselves; this count lets a front end wait for them all.
std::mutex LiveMutex;
std::condition_variable LiveChanged;
int LiveCount = 0;

} // namespace

TCommsThread *TCommsThread::Start(const ChannelRow &row, ChannelPanel &panel, RunPlan plan,
                                  TerminateHandler onTerminate,
                                  std::unique_ptr<SerialPort> port) {
  {
    std::lock_guard lock(LiveMutex);
    ++LiveCount;
  }
  auto *worker =
      new TCommsThread(row, panel, std::move(plan), std::move(onTerminate), std::move(port));
  std::thread([worker] { worker->ThreadMain(); }).detach();
  return worker;
}

TCommsThread::TCommsThread(const ChannelRow &row, ChannelPanel &panel, RunPlan plan,
                           TerminateHandler onTerminate, std::unique_ptr<SerialPort> port)
    : CommHandle(port ? std::move(port) : CreateSerialPort()), Plan(std::move(plan)),
      Repeat(Plan.Repeat), ChannelRowRef(row), Panel(panel), OnTerminate(std::move(onTerminate)) {
  // A write the handset does not take must not outlast a stop.
  CommHandle->SetStopFlag(&StopRequested);
}

void TCommsThread::WaitForAllWorkers() {
  std::unique_lock lock(LiveMutex);
  LiveChanged.wait(lock, [] { return LiveCount == 0; });
}

int TCommsThread::LiveWorkers() {
  std::lock_guard lock(LiveMutex);
  return LiveCount;
}

void TCommsThread::RequestStop() {
  StopRequested = true;
  StopCode = StopCodeOperator;
}

void TCommsThread::ThreadMain() {
  RaiseCurrentThreadPriority();
  while (RunOnce()) {
  }
  delete this;
  std::lock_guard lock(LiveMutex);
  --LiveCount;
  LiveChanged.notify_all();
}

bool TCommsThread::RunOnce() {
  try {
    FineTimer fineTimer;
    RunDownload();
  } catch (const std::exception &error) {
    EndAfterException(error.what());
  } catch (...) {
    EndAfterException("Unknown exception");
  }
  FinishReport();
  SettleUnitValues();
  // On the worker's thread: a slow disk holds up this channel only.
  Panel.KeepRecord(LastReport);
  FinishUnit();
  MoreRuns = false;
  // Decided on the window's thread, where Stop is pressed: a stop that comes
  // after this call finds the next run started and ends it. A queue that
  // has closed runs nothing, and no run follows. A run that ended before
  // any handset answered failed on the port itself (gone, refused): calling
  // again would only repeat that failure, so the channel stops with it.
  Panel.RunOnGuiThread([this] {
    ++RunsDone;
    Repeat = Panel.RepeatChoice();
    MoreRuns = !StopRequested && HandsetAnswered && Repeat.WantsAnother(RunsDone);
    if (OnTerminate)
      OnTerminate(*this);
  });
  return MoreRuns;
}

void TCommsThread::EndAfterException(const char *what) {
  // The run is over; the port must not stay open.
  CommHandle->Close();
  // It counts as a failure of the run, shown like any other (unless a stop
  // or an earlier failure came first); the end-of-run notification follows
  // whatever happens here.
  try {
    LastError = 0;
    ReportCommError(what);
    Panel.RunOnGuiThread([this] { SetDoneColour(); });
  } catch (...) {
    uint32_t expected = StopCodeRunning;
    StopCode.compare_exchange_strong(expected, StopCodeGeneralFailure);
  }
}

void TCommsThread::RunDownload() {
  StatusText.clear();
  StopCode = StopCodeRunning;
  if (StopRequested)
    StopCode = StopCodeOperator;
  FileError = 0;
  BytesRead = 0;
  LastReport = RunReport{};
  LastReport.Channel = ChannelRowRef.Number;
  LastReport.Started = RunReport::Clock::now();
  FailureNoted = false;
  VerdictPassed = false;
  HandsetAnswered = false;
  Watch.Arm(Plan.Limits);
  LastReport.LineRate = Plan.Speed.Rate;
  LastReport.RamProgramSha256 = Plan.RamProgramSha256;
  LastReport.JobName = Plan.JobName;
  LastReport.JobVersion = Plan.JobVersion;
  LastReport.JobSha256 = Plan.JobSha256;
  if (Plan.Image) {
    LastReport.ChosenFile = Plan.Image->ChosenPath;
    LastReport.ImagePath = Plan.Image->Path;
    LastReport.ImageSize = Plan.Image->File.size();
    LastReport.ImageSha256 = Plan.Image->Sha256;
    LastReport.SentSha256 = Plan.Image->Sha256;
  }
  ValueClaim = UnitValueClaim{};
  ValuesClaimed = false;
  ValuesSent = false;
  Panel.RunOnGuiThread([this] { SetBusyColour(); });
  if (!AdmitUnit()) {
    Panel.RunOnGuiThread([this] { SetDoneColour(); });
    return;
  }
  OpenCommPort();
  if (RunsDone == 0) {
    SyncWithTarget();
  } else {
    NoteChangedImageFile();
    WaitForNextHandset();
  }
  // Both calls return while running only once a boot ROM has answered.
  HandsetAnswered = StopCode == StopCodeRunning;
  SendRamProgram();
  ConfigureRamProgram();
  if (StopCode == StopCodeRunning)
    ProgramFlash();
  Panel.RunOnGuiThread([this] { SetDoneColour(); });
  if (CommHandle->IsOpen()) {
    CommHandle->Close();
    if (StopCode == StopCodeOperator)
      ShowStatus(ChannelRowRef.StopText);
  }
}

void TCommsThread::ShowStatus(const std::string &text) {
  // The steps that go on after a failure must not hide it from the operator.
  if (FailureNoted)
    return;
  StatusText = text;
  Panel.RunOnGuiThread([this] { UpdateStatusBar(); });
}

void TCommsThread::ReportCommError(const std::string &text) {
  uint32_t code = LastError;
  uint32_t stored = code != 0 ? code : StopCodeGeneralFailure;
  uint32_t expected = StopCodeRunning;
  // Only the first failure is reported; a stop that came first stays.
  if (StopCode.compare_exchange_strong(expected, stored))
    ShowFailure("ERROR " + text + " (" + std::to_string(code) + ")", stored);
  if (CommHandle->IsOpen())
    CommHandle->ClearErrors();
}

void TCommsThread::ReportFileError(const std::string &text) {
  if (FileError != 0)
    return;
  FileError = LastError;
  if (FileError == 0)
    FileError = StopCodeGeneralFailure;
  ShowFailure("ERROR " + text + " (" + std::to_string(LastError) + ")", FileError);
}

// Only the run's first failure reaches the status line, whichever kind (port
// or image file) it was; it stays there to the end of the run, and it is the
// one the run's report carries.
void TCommsThread::ShowFailure(const std::string &text, uint32_t code) {
  if (FailureNoted)
    return;
  FailureNoted = true;
  LastReport.FinalStatus = text;
  LastReport.ErrorCode = code;
  StatusText = text;
  Panel.RunOnGuiThread([this] { UpdateStatusBar(); });
}

void TCommsThread::FinishReport() {
  LastReport.Ended = RunReport::Clock::now();
  LastReport.Unit = HandsetAnswered;
  if (FailureNoted) {
    LastReport.Outcome = RunOutcome::Failed;
    return;
  }
  LastReport.FinalStatus = StatusText;
  if (VerdictPassed) {
    LastReport.Outcome = RunOutcome::Passed;
    LastReport.ErrorCode = 0;
  } else if (StopCode == StopCodeOperator) {
    LastReport.Outcome = RunOutcome::Stopped;
    LastReport.ErrorCode = StopCodeOperator;
  } else {
    // Ended without a verdict and without a reported failure: an exception.
    LastReport.Outcome = RunOutcome::Failed;
    LastReport.ErrorCode = StopCode != StopCodeRunning ? StopCode.load() : StopCodeGeneralFailure;
  }
}

bool TCommsThread::HandsetSilent() {
  if (!Watch.Expired())
    return false;
  LastError = TimedOutErrorCode();
  ReportCommError(Watch.FailureText());
  return true;
}

void TCommsThread::UpdateStatusBar() { Panel.SetStatusText(StatusText); }
void TCommsThread::SetBusyColour() { Panel.SetStatusColour(StatusColour::Busy); }
void TCommsThread::SetDoneColour() { Panel.SetStatusColour(StatusColour::Done); }

void TCommsThread::SleepMs(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace kestrune
