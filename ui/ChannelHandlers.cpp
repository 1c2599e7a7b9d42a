// Starting and stopping channels, and tidying a panel when its worker ends.
#include "engine/CommsThread.h"
#include "engine/RunPlan.h"
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/RunOptionsPanel.h"
#include "ui/SerialSchemePanel.h"
#include "ui/WindowRecords.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

namespace kestrune {

void TKestruneUiForm::ParameterChange(int channel) {
  // No channel may start while an image is being prepared: the loader
  // rewrites the image the workers send.
  bool ready = ImageReady == 1 && !MotThread.Running();
  StartButton[channel]->setEnabled(ready && !PortText(channel).isEmpty());
}

void TKestruneUiForm::PortChange(int channel) { ParameterChange(channel); }

void TKestruneUiForm::StartClick(int channel) {
  if (State != Lifecycle::Open || MotThread.Running())
    return;
  if (ImageReady != 1) {
    SetStatus(channel, SelectFileText);
    return;
  }
  // Nothing is touched when the start is refused for a shared port or a
  // RAM program file that is not one.
  if (StartButton[channel]->isEnabled() && RefuseSharedPorts({channel}))
    return;
  if (!RunOptionsReady(channel))
    return;
  FlashFileButton->setEnabled(false);
  if (!StartButton[channel]->isEnabled())
    return;
  if (ReloadBeforeStart({channel}))
    return;
  StartChannel(channel);
}

void TKestruneUiForm::StartAllClick() {
  // While a load runs channels 1 and 2 show its progress; nothing starts.
  if (State != Lifecycle::Open || MotThread.Running())
    return;
  if (ImageReady != 1) {
    SetStatus(0, SelectFileText);
    return;
  }
  if (!RunOptionsReady(0))
    return;
  // Every idle channel, with or without a port: one without reports that
  // its port cannot be opened. None starts while two would share a port.
  std::vector<int> idle;
  for (int channel = 0; channel < ChannelCount; ++channel) {
    if (CommsThread[channel] == nullptr)
      idle.push_back(channel);
  }
  if (RefuseSharedPorts(idle))
    return;
  FlashFileButton->setEnabled(false);
  if (ReloadBeforeStart(idle))
    return;
  for (int channel : idle)
    StartChannel(channel);
}

bool TKestruneUiForm::ReloadBeforeStart(const std::vector<int> &channels) {
  // A start sends the chosen file's current content: a file changed since
  // its load is loaded again first, with the load's texts, and the starts
  // follow when it is ready.
  if (!Image || !Image->ChosenFileChanged())
    return false;
  StartsAfterLoad = channels;
  StartMotLoad(FlashFileEdit->text());
  if (!MotThread.Running()) {
    StartsAfterLoad.clear();
    UpdateFileControls();
  }
  return true;
}

bool TKestruneUiForm::RunOptionsReady(int channel) {
  std::string problem = FollowRecordsPlace();
  if (problem.empty())
    problem = RunOptions->PrepareStart();
  if (problem.empty())
    problem = Serials->CheckScheme();
  if (problem.empty())
    problem = JobStartProblem();
  if (problem.empty())
    return true;
  SetStatus(channel, QString::fromStdString("ERROR " + problem));
  return false;
}

void TKestruneUiForm::StartChannel(int channel) {
  // The scheme placed in the image this run sends, and its ledger: one that
  // does not fit refuses the start before the port opens.
  std::shared_ptr<UnitValues> values;
  // A start after a reload of a changed file comes here without the job's
  // checks: the image must still be the job's.
  std::string serialProblem = JobImageProblem();
  if (serialProblem.empty())
    serialProblem = Serials->ValuesFor(Image, values);
  if (!serialProblem.empty()) {
    SetStatus(channel, QString::fromStdString("ERROR " + serialProblem));
    UpdateFileControls();
    return;
  }
  SerialLabel[channel]->hide();
  // The end handler is handed over with the start: the worker cannot end
  // before it is in place. Its first step waits for this thread, so the
  // panel below is set up before the worker shows anything.
  Panel[channel]->RunProgressState().Begin();
  // The record is written on the worker's thread before the outcome shows.
  WindowRecords *keeper = &RunRecords();
  Panel[channel]->SetRecordKeeper([keeper](const RunReport &report) { keeper->Record(report); });
  // The run's plan: the loaded image's bytes and the speed chosen now.
  RunPlan plan = PlanRun(Image, RowForButtons(Panel[channel]->SpeedButtonStates()),
                         Panel[channel]->RepeatChoice());
  plan.Values = std::move(values);
  if (JobMode->IsOpen()) {
    plan.JobName = JobMode->Job().Name;
    plan.JobVersion = JobMode->Job().Version;
    plan.JobSha256 = JobMode->Job().FileSha256;
    plan.Gate = JobGate;
  }
  CommsThread[channel] = TCommsThread::Start(ChannelRows[channel], *Panel[channel],
                                             std::move(plan),
                                             [this, channel](TCommsThread &worker) {
                                               ShowRunResult(channel, worker.Report());
                                               if (worker.RunsOn())
                                                 ContinueRepeat(channel, worker.Report());
                                               else
                                                 CommsTerminate(channel);
                                             });
  BeginRunView(channel);
  Panel[channel]->ResetProgress();
  TypePageControl->setEnabled(false);
  StartButton[channel]->setEnabled(false);
  StopButton[channel]->setEnabled(true);
  PortCBox[channel]->setEnabled(false);
  SetStatus(channel, SyncingText);
}

void TKestruneUiForm::CommsTerminate(int channel) {
  CommsThread[channel] = nullptr;
  StartButton[channel]->setEnabled(true);
  StopButton[channel]->setEnabled(false);
  PortCBox[channel]->setEnabled(true);
  Panel[channel]->ResetProgress();
  ParameterChange(channel);
  UpdateFileControls();
  QuitQuietLoopWhenDone();
}

bool TKestruneUiForm::ShowsEndedRun(int channel) const {
  return CommsThread[channel] == nullptr && Outcome[channel].has_value();
}

void TKestruneUiForm::StopClick(int channel) {
  // A channel whose run has ended keeps its mark and the text beside it.
  if (ShowsEndedRun(channel))
    return;
  SetStatus(channel, ShuttingDownText);
  if (CommsThread[channel] != nullptr)
    CommsThread[channel]->RequestStop();
}

void TKestruneUiForm::StopAllClick() {
  for (int channel = 0; channel < ChannelCount; ++channel) {
    if (CommsThread[channel] != nullptr) {
      SetStatus(channel, ShuttingDownText);
      CommsThread[channel]->RequestStop();
    } else if (!ShowsEndedRun(channel)) {
      SetStatus(channel, ChannelRows[channel].IdleText);
    }
  }
}

QString TKestruneUiForm::CloseQuestion() const {
  int running = 0;
  for (TCommsThread *worker : CommsThread)
    running += worker != nullptr;
  if (running == 0)
    return {};
  if (running == 1)
    return "1 channel is flashing: stop it and close?";
  return QString("%1 channels are flashing: stop them and close?").arg(running);
}

bool TKestruneUiForm::AllChannelsIdle() const {
  for (TCommsThread *worker : CommsThread) {
    if (worker != nullptr)
      return false;
  }
  return true;
}

void TKestruneUiForm::UpdateFileControls() {
  if (!AllChannelsIdle())
    return;
  TypePageControl->setEnabled(true);
  FlashFileButton->setEnabled(true);
}

} // namespace kestrune
