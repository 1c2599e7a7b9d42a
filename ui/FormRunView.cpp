// The operator's view of runs, beside the classic controls: each channel's
// last outcome as a coloured mark with a word, its passed and failed counts
// and the station's with the yield (kept with the settings), a bar and a
// line of text for the whole run's progress, the channel logs, and the
// check that the Korean texts can be drawn.
#include "engine/CommsThread.h"
#include "platform/ErrorMeaning.h"
#include "platform/SettingsStore.h"
#include "ui/ChannelLogDialog.h"
#include "ui/FontCheck.h"
#include "ui/KestruneUiForm.h"
#include "ui/LiveStateFeed.h"
#include "ui/SerialSchemePanel.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace kestrune {
namespace {

constexpr int RunBarSteps = 1000;
constexpr int RunViewIntervalMs = 200;

QString Name(int channel, const char *kind) {
  return QString::fromStdString(ControlName(ChannelRows[channel], kind));
}

std::string PassedValueName(int channel) {
  return std::string("Passed Runs") + ChannelRows[channel].Suffix;
}

std::string FailedValueName(int channel) {
  return std::string("Failed Runs") + ChannelRows[channel].Suffix;
}

QString UpperWord(RunOutcome outcome) { return QString(RunOutcomeName(outcome)).toUpper(); }

// Green, red and grey marks; the word says the same without colour.
QString OutcomeStyle(std::optional<RunOutcome> outcome, bool running) {
  const char *base = "QLabel { border-radius: 3px; padding: 1px 6px; font-weight: bold; ";
  if (running)
    return QString(base) + "color: #1f3d7a; border: 1px solid #1f3d7a; }";
  if (!outcome)
    return QString(base) + "color: #808080; border: 1px solid #b0b0b0; }";
  switch (*outcome) {
  case RunOutcome::Passed:
    return QString(base) + "color: white; background: #1e7b34; border: 1px solid #145224; }";
  case RunOutcome::Failed:
    return QString(base) + "color: white; background: #c62828; border: 1px solid #8e1b1b; }";
  case RunOutcome::Stopped:
    return QString(base) + "color: white; background: #6d6d6d; border: 1px solid #4a4a4a; }";
  }
  return base;
}

QString ProgressText(const ProgressSnapshot &s) {
  if (s.Phase == RunPhase::Idle)
    return {};
  QString text = s.Phase == RunPhase::Finished && s.Outcome ? RunOutcomeName(*s.Outcome)
                                                            : RunPhaseName(s.Phase);
  text += QString("  %1%").arg(int(s.RunPercent));
  if (s.BytesTotal > 0 && s.ImageBytes)
    text += QString("  %1 of %2")
                .arg(QString::fromStdString(FormatBytes(s.BytesSent)),
                     QString::fromStdString(FormatBytes(s.BytesTotal)));
  if (s.Phase != RunPhase::Finished)
    text += QString("  %1 KiB/s").arg(s.KiBPerSecond, 0, 'f', 1);
  text += "  " + QString::fromStdString(FormatDuration(s.Elapsed));
  if (s.Left)
    text += "  left " + QString::fromStdString(FormatDuration(*s.Left));
  return text;
}

} // namespace

void TKestruneUiForm::AddRunViewControls(int channel, QWidget *panel) {
  auto *count = new QLabel(panel);
  count->setObjectName(Name(channel, "CountLabel"));
  count->setToolTip("Passed and failed runs of this channel, and its yield");
  QFont plain = count->font();
  plain.setBold(false);
  count->setFont(plain);
  // Takes the room the panel has; growing counts never widen it.
  count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  count->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  CountLabel[channel] = count;

  auto *run = new QProgressBar(panel);
  run->setObjectName(Name(channel, "RunProgressBar"));
  run->setRange(0, RunBarSteps);
  run->setValue(0);
  run->setTextVisible(true);
  run->setFormat(QString());
  run->setFont(plain);
  // The text changes all the time; the bar's width must not follow it.
  run->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  run->setToolTip("Whole run: phase, percent, bytes, KiB/s, elapsed, time left");
  RunProgressBar[channel] = run;

  auto *outcome = new QLabel(panel);
  outcome->setObjectName(Name(channel, "OutcomeLabel"));
  outcome->setAlignment(Qt::AlignCenter);
  int widest = 0;
  for (const char *word : {"PASSED", "FAILED", "STOPPED", "RUNNING"})
    widest = std::max(widest, outcome->fontMetrics().horizontalAdvance(word));
  outcome->setFixedWidth(widest + 24);
  OutcomeLabel[channel] = outcome;

  auto *verdict = new QLabel(panel);
  verdict->setObjectName(Name(channel, "VerdictLabel"));
  verdict->setFont(plain);
  verdict->setWordWrap(true);
  verdict->setVisible(false);
  VerdictLabel[channel] = verdict;
  auto *serials = new QLabel(panel);
  serials->setObjectName(Name(channel, "SerialLabel"));
  serials->setFont(plain);
  serials->setToolTip("Serial values of the unit being flashed");
  serials->setVisible(false);
  SerialLabel[channel] = serials;
  Panel[channel]->SetUnitValuesHook(
      [this, channel](const std::vector<std::pair<std::string, std::string>> &values) {
        QString text;
        for (const auto &[field, value] : values)
          text += QString(text.isEmpty() ? "" : "  ") + QString::fromStdString(field) + " " +
                  QString::fromStdString(value);
        SerialLabel[channel]->setText(text);
        SerialLabel[channel]->setVisible(!text.isEmpty());
        if (LiveState)
          LiveState->TakeUnitValues(channel, values);
      });
  Panel[channel]->SetUnitHook([this, channel] { BeginNextUnit(channel); });

  // Every text the worker shows goes to the channel's log as well.
  Panel[channel]->SetStatusTextHook([this, channel](const std::string &text) {
    LogStatus(channel, text);
  });
  ShowOutcome(channel, false);
}

QWidget *TKestruneUiForm::BuildStationRow() {
  auto *row = new QWidget(this);
  row->setObjectName("StationRow");
  auto *layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  StationCountLabel = new QLabel(row);
  StationCountLabel->setObjectName("StationCountLabel");
  // Takes the room beside the buttons; growing counts never widen the column.
  QFont plain = StationCountLabel->font();
  plain.setBold(false);
  StationCountLabel->setFont(plain);
  StationCountLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  ResetCountsButton = new QPushButton("Reset counts", row);
  ResetCountsButton->setObjectName("ResetCountsButton");
  ResetCountsButton->setToolTip("Set every channel's counts back to zero");
  LogButton = new QPushButton("Log", row);
  LogButton->setObjectName("LogButton");
  LogButton->setToolTip("Show what each channel said");
  layout->addWidget(StationCountLabel, 1);
  layout->addWidget(ResetCountsButton);
  layout->addWidget(LogButton);

  connect(ResetCountsButton, &QPushButton::clicked, this, [this] {
    QMessageBox ask(QMessageBox::Question, "Reset counts",
                    "Set the passed and failed counts of every channel back to zero?",
                    QMessageBox::Yes | QMessageBox::No, this);
    if (ask.exec() == QMessageBox::Yes)
      ResetCounts();
  });
  connect(LogButton, &QPushButton::clicked, this, [this] {
    ShowLog(LogDialog != nullptr ? LogDialog->Channel() : 0);
  });

  RunViewTimer = new QTimer(this);
  RunViewTimer->setObjectName("RunViewTimer");
  RunViewTimer->setInterval(RunViewIntervalMs);
  connect(RunViewTimer, &QTimer::timeout, this, [this] { RefreshRunView(); });
  RunViewTimer->start();
  return row;
}

void TKestruneUiForm::PlaceInScrollArea(QLayout *columns) {
  // The panels keep their places; a window smaller than they need (a small
  // screen, a large scaling) scrolls instead of running off the screen.
  Content = new QWidget;
  Content->setObjectName("WindowContent");
  Content->setLayout(columns);
  ScrollArea = new QScrollArea(this);
  ScrollArea->setObjectName("WindowScrollArea");
  ScrollArea->setFrameShape(QFrame::NoFrame);
  ScrollArea->setWidgetResizable(true);
  ScrollArea->setWidget(Content);
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(ScrollArea);
  setMinimumSize(320, 240);
}

void TKestruneUiForm::FitToScreen() {
  QSize wanted = Content->sizeHint();
  if (QScreen *screen = QGuiApplication::primaryScreen()) {
    // Room for the window's frame and title bar.
    QSize room = screen->availableGeometry().size() - QSize(16, 40);
    if (wanted.width() > room.width())
      wanted.rheight() += ScrollArea->horizontalScrollBar()->sizeHint().height();
    if (wanted.height() > room.height())
      wanted.rwidth() += ScrollArea->verticalScrollBar()->sizeHint().width();
    wanted = wanted.boundedTo(room);
  }
  resize(wanted);
}

void TKestruneUiForm::CheckFonts() {
  bool drawable = Environment.KoreanFontsAvailable
                      ? Environment.KoreanFontsAvailable()
                      : UndrawableCharacters(KoreanStatusTexts(), font()).isEmpty();
  FontWarningLabel->setVisible(!drawable);
  if (!drawable)
    qWarning("Kestrune: %s", MissingKoreanFontText);
}

void TKestruneUiForm::LogStatus(int channel, const std::string &text) {
  // The log view polls the logs on its own timer. An error code gets the
  // system's words for it beside the unchanged text.
  Logs[channel].Append(WithMeaning(text));
}

void TKestruneUiForm::BeginRunView(int channel) {
  VerdictLabel[channel]->clear();
  VerdictLabel[channel]->setVisible(false);
  Outcome[channel].reset();
  ShowOutcome(channel, true);
  RefreshRunView();
}

void TKestruneUiForm::ShowRunResult(int channel, const RunReport &report) {
  Outcome[channel] = report.Outcome;
  if (LiveState)
    LiveState->TakeOutcome(channel, report.Outcome);
  Tallies[channel].Count(report);
  Panel[channel]->RunProgressState().Finish(report.Outcome);
  double seconds = std::chrono::duration<double>(report.Ended - report.Started).count();
  char summary[96];
  std::snprintf(summary, sizeof summary, " (%llu bytes sent, %.1f s)",
                (unsigned long long)report.BytesSent, seconds);
  Logs[channel].Append(std::string("Run ") + RunOutcomeName(report.Outcome) +
                       (report.Unit ? "" : " (no handset answered: not counted)") + ": " +
                       report.FinalStatus + summary);
  ShowOutcome(channel, false);
  ShowCounts();
  Serials->RefreshStatus();
  RefreshRunView();
  SaveCounts();
}

void TKestruneUiForm::ShowOutcome(int channel, bool running, uint32_t unit) {
  QLabel *label = OutcomeLabel[channel];
  const std::optional<RunOutcome> outcome = Outcome[channel];
  // The word alone fits the mark's fixed width; the unit's number is on
  // the verdict line below it and in the tool tip.
  label->setText(running ? "RUNNING" : outcome ? UpperWord(*outcome) : QString("-"));
  label->setStyleSheet(OutcomeStyle(outcome, running));
  if (running)
    label->setToolTip("The channel is running");
  else if (outcome && unit > 0)
    label->setToolTip(QString("Unit %1: %2; waiting for the next unit")
                          .arg(unit)
                          .arg(RunOutcomeName(*outcome)));
  else if (outcome)
    label->setToolTip(QString("Last run: %1").arg(RunOutcomeName(*outcome)));
  else
    label->setToolTip("No run yet");
}

void TKestruneUiForm::ShowUnitVerdict(int channel, const RunReport &report) {
  // Only a unit's verdict is shown; the run that follows a stop never comes.
  if (report.Outcome == RunOutcome::Stopped || !report.Unit)
    return;
  const uint32_t unit = Tallies[channel].Runs();
  ShowOutcome(channel, false, unit);
  QString text = QString("Unit %1 %2").arg(unit).arg(UpperWord(report.Outcome));
  if (report.Outcome == RunOutcome::Failed && !report.FinalStatus.empty())
    text += ": " + QString::fromStdString(report.FinalStatus);
  text += " - waiting for the next unit";
  QLabel *label = VerdictLabel[channel];
  label->setText(text);
  label->setToolTip(text);
  label->setStyleSheet(report.Outcome == RunOutcome::Passed ? "color: #1e7b34;"
                                                            : "color: #c62828; font-weight: bold;");
  label->setVisible(true);
}

void TKestruneUiForm::ShowCounts() {
  for (int channel = 0; channel < ChannelCount; ++channel)
    CountLabel[channel]->setText(QString::fromStdString(Tallies[channel].Text()));
  QString station = "Station: " + QString::fromStdString(StationTallyValue().Text());
  StationCountLabel->setText(station);
  StationCountLabel->setToolTip(station + "\nPassed and failed runs of all channels, and the yield");
}

void TKestruneUiForm::ResetCounts() {
  Tallies.fill(RunTally{});
  ShowCounts();
  SaveCounts();
}

void TKestruneUiForm::LoadCounts() {
  // Read while the settings are open for the load; missing values are 0.
  for (int channel = 0; channel < ChannelCount; ++channel) {
    Tallies[channel].Passed = uint32_t(std::max(0, Registry->ReadInteger(PassedValueName(channel)).value_or(0)));
    Tallies[channel].Failed = uint32_t(std::max(0, Registry->ReadInteger(FailedValueName(channel)).value_or(0)));
  }
  ShowCounts();
}

void TKestruneUiForm::SaveCounts() {
  if (!Registry || !Registry->OpenSettings(SettingsUse::Save))
    return;
  WriteCounts();
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the counts could not be saved");
}

void TKestruneUiForm::WriteCounts() {
  for (int channel = 0; channel < ChannelCount; ++channel) {
    Registry->WriteInteger(PassedValueName(channel), int32_t(Tallies[channel].Passed));
    Registry->WriteInteger(FailedValueName(channel), int32_t(Tallies[channel].Failed));
  }
}

ChannelLogDialog *TKestruneUiForm::ShowLog(int channel) {
  if (LogDialog == nullptr)
    LogDialog = new ChannelLogDialog(Logs, this);
  LogDialog->ShowChannel(channel);
  LogDialog->show();
  LogDialog->raise();
  return LogDialog;
}

void TKestruneUiForm::RefreshRunView() {
  for (int channel = 0; channel < ChannelCount; ++channel) {
    ProgressSnapshot s = Panel[channel]->RunProgressState().Snapshot();
    QProgressBar *bar = RunProgressBar[channel];
    int value = int(s.RunPercent / 100.0 * RunBarSteps);
    if (bar->value() != value)
      bar->setValue(value);
    QString text = ProgressText(s);
    if (bar->format() != text)
      bar->setFormat(text);
  }
}

} // namespace kestrune
