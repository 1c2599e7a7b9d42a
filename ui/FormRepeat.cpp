// The station's repeat mode in the window: the check box beside the speed
// choice, its place in the settings, and a channel going on with the next
// handset after a run has ended.
#include "ui/KestruneUiForm.h"

#include "platform/SettingsStore.h"

#include <QCheckBox>

#include <algorithm>

namespace kestrune {

QCheckBox *TKestruneUiForm::BuildRepeatCheckBox() {
  RepeatCheckBox = new QCheckBox("Repeat", this);
  RepeatCheckBox->setObjectName("RepeatCheckBox");
  RepeatCheckBox->setToolTip("After each run the channel waits for the next handset and "
                             "flashes it, until Stop");
  connect(RepeatCheckBox, &QCheckBox::toggled, this, [this] { SaveRepeatSetting(); });
  return RepeatCheckBox;
}

// Asked on the window's thread after every run: the box as it is now, so
// that clearing it lets the running channels end after their current run.
RepeatPlan TKestruneUiForm::RepeatChoice() const {
  RepeatPlan plan;
  plan.On = RepeatCheckBox != nullptr && RepeatCheckBox->isChecked() && State == Lifecycle::Open;
  plan.SwapSilence = RepeatSwapSilence;
  return plan;
}

void TKestruneUiForm::ContinueRepeat(int channel) {
  // The same worker goes on; the panel starts over as for a Start.
  Panel[channel]->RunProgressState().Begin();
  BeginRunView(channel);
  Panel[channel]->ResetProgress();
}

void TKestruneUiForm::LoadRepeatSetting() {
  // Read while the settings are open for the load.
  RepeatCheckBox->blockSignals(true);
  RepeatCheckBox->setChecked(Registry->ReadInteger(RepeatValue).value_or(0) != 0);
  RepeatCheckBox->blockSignals(false);
  int32_t silence = Registry->ReadInteger(RepeatSilenceValue)
                        .value_or(int32_t(DefaultSwapSilence.count()));
  RepeatSwapSilence = std::chrono::milliseconds(std::clamp(silence, 50, 3600000));
}

void TKestruneUiForm::WriteRepeatSetting() {
  Registry->WriteInteger(RepeatValue, RepeatCheckBox->isChecked() ? 1 : 0);
  Registry->WriteInteger(RepeatSilenceValue, int32_t(RepeatSwapSilence.count()));
}

void TKestruneUiForm::SaveRepeatSetting() {
  if (!Registry || !Registry->OpenSettings(SettingsUse::Save))
    return;
  WriteRepeatSetting();
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the repeat setting could not be saved");
}

} // namespace kestrune
