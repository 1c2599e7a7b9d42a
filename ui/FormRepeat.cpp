// The station's repeat mode in the window: the check box beside the speed
// choice with the swap silence below it, their places in the settings, and
// a channel going on with the next handset after a run has ended.
#include "ui/KestruneUiForm.h"

#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kestrune {
namespace {

double Seconds(std::chrono::milliseconds value) { return double(value.count()) / 1000.0; }

int64_t Milliseconds(double seconds) { return std::llround(seconds * 1000.0); }

} // namespace

QLayout *TKestruneUiForm::BuildRepeatControls() {
  RepeatCheckBox = new QCheckBox("Repeat", this);
  RepeatCheckBox->setObjectName("RepeatCheckBox");
  RepeatCheckBox->setToolTip("After each run the channel waits for the next handset and "
                             "flashes it, until Stop");

  SwapSilenceLabel = new QLabel("Swap silence", this);
  SwapSilenceLabel->setObjectName("SwapSilenceLabel");
  SwapSilenceSpinBox = new QDoubleSpinBox(this);
  SwapSilenceSpinBox->setObjectName("SwapSilenceSpinBox");
  SwapSilenceSpinBox->setDecimals(1);
  SwapSilenceSpinBox->setSingleStep(0.1);
  SwapSilenceSpinBox->setRange(Seconds(MinWindowSwapSilence), Seconds(MaxWindowSwapSilence));
  SwapSilenceSpinBox->setSuffix(" s");
  SwapSilenceSpinBox->setValue(Seconds(DefaultSwapSilence));
  // A value typed digit by digit counts once it is complete.
  SwapSilenceSpinBox->setKeyboardTracking(false);
  const QString tip("Repeat: how long the boot ROM call must go unanswered (the flashed "
                    "handset taken away) before an answer counts as the next handset");
  SwapSilenceLabel->setToolTip(tip);
  SwapSilenceSpinBox->setToolTip(tip);
  SwapSilenceLabel->setBuddy(SwapSilenceSpinBox);

  RepeatRunsLabel = new QLabel("Runs", this);
  RepeatRunsLabel->setObjectName("RepeatRunsLabel");
  RepeatRunsSpinBox = new QSpinBox(this);
  RepeatRunsSpinBox->setObjectName("RepeatRunsSpinBox");
  RepeatRunsSpinBox->setRange(0, 1000000);
  RepeatRunsSpinBox->setSpecialValueText("until Stop");
  RepeatRunsSpinBox->setKeyboardTracking(false);
  const QString runsTip("Repeat: how many runs each channel makes in all, then it ends");
  RepeatRunsLabel->setToolTip(runsTip);
  RepeatRunsSpinBox->setToolTip(runsTip);
  RepeatRunsLabel->setBuddy(RepeatRunsSpinBox);

  connect(RepeatCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    ShowSwapSilenceEnabled(on);
    SaveRepeatSetting();
  });
  // Waiting channels take a new value at their next call.
  connect(SwapSilenceSpinBox, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
    SwapSilenceMs = Milliseconds(seconds);
    SaveRepeatSetting();
  });
  connect(RepeatRunsSpinBox, &QSpinBox::valueChanged, this, [this] { SaveRepeatSetting(); });
  ShowSwapSilenceEnabled(false);

  auto *column = new QVBoxLayout;
  column->setSpacing(2);
  column->addWidget(RepeatCheckBox);
  column->addWidget(SwapSilenceLabel);
  column->addWidget(SwapSilenceSpinBox);
  column->addWidget(RepeatRunsLabel);
  column->addWidget(RepeatRunsSpinBox);
  return column;
}

void TKestruneUiForm::ShowSwapSilenceEnabled(bool on) {
  SwapSilenceLabel->setEnabled(on);
  SwapSilenceSpinBox->setEnabled(on);
  RepeatRunsLabel->setEnabled(on);
  RepeatRunsSpinBox->setEnabled(on);
}

// Asked on the window's thread after every run: the box as it is now, so
// that clearing it lets the running channels end after their current run.
RepeatPlan TKestruneUiForm::RepeatChoice() const {
  RepeatPlan plan;
  plan.On = RepeatCheckBox != nullptr && RepeatCheckBox->isChecked() && State == Lifecycle::Open;
  plan.SwapSilence = std::chrono::milliseconds(SwapSilenceMs.load());
  plan.Runs = RepeatRunsSpinBox != nullptr ? uint32_t(RepeatRunsSpinBox->value()) : 0;
  return plan;
}

void TKestruneUiForm::ContinueRepeat(int channel, const RunReport &report) {
  // The same worker goes on; the unit just flashed keeps its verdict in
  // view while the channel waits for the next one.
  Panel[channel]->RunProgressState().Begin();
  Panel[channel]->ResetProgress();
  ShowUnitVerdict(channel, report);
  RefreshRunView();
}

void TKestruneUiForm::BeginNextUnit(int channel) {
  // The panel starts over as for a Start, its time with the unit's answer.
  Panel[channel]->RunProgressState().Begin();
  BeginRunView(channel);
}

void TKestruneUiForm::LoadRepeatSetting() {
  // Read while the settings are open for the load: the boxes must not save.
  RepeatCheckBox->blockSignals(true);
  RepeatCheckBox->setChecked(Registry->ReadInteger(RepeatValue).value_or(0) != 0);
  RepeatCheckBox->blockSignals(false);
  ShowSwapSilenceEnabled(RepeatCheckBox->isChecked());
  // A value the box cannot show (edited by hand, or from an older version)
  // is taken to the nearest it can.
  int64_t silence = Registry->ReadInteger(RepeatSilenceValue)
                        .value_or(int32_t(DefaultSwapSilence.count()));
  silence = std::clamp<int64_t>(silence, MinWindowSwapSilence.count(),
                                MaxWindowSwapSilence.count());
  SwapSilenceSpinBox->blockSignals(true);
  SwapSilenceSpinBox->setValue(double(silence) / 1000.0);
  SwapSilenceSpinBox->blockSignals(false);
  SwapSilenceMs = Milliseconds(SwapSilenceSpinBox->value());
  const int64_t runs = Registry->ReadInteger(RepeatRunsValue).value_or(0);
  RepeatRunsSpinBox->blockSignals(true);
  RepeatRunsSpinBox->setValue(int(std::clamp<int64_t>(runs, 0, RepeatRunsSpinBox->maximum())));
  RepeatRunsSpinBox->blockSignals(false);
}

void TKestruneUiForm::WriteRepeatSetting() {
  Registry->WriteInteger(RepeatValue, RepeatCheckBox->isChecked() ? 1 : 0);
  Registry->WriteInteger(RepeatSilenceValue, int32_t(SwapSilenceMs.load()));
  Registry->WriteInteger(RepeatRunsValue, RepeatRunsSpinBox->value());
}

void TKestruneUiForm::SaveRepeatSetting() {
  if (!Registry || !Registry->OpenSettings(SettingsUse::Save))
    return;
  WriteRepeatSetting();
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the repeat setting could not be saved");
}

} // namespace kestrune
