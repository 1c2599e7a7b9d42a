// The station's run options under the file controls: the RAM program the
// channels send (the built-in one or a file), the watchdog over silent
// handsets and the limit of re-sends of one block. Kept in the settings
// beside the classic values, which they leave as they are.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

namespace kestrune {

class SettingsStore;

constexpr const char *RamProgramFileValue = "RamProgramFile";
constexpr const char *WatchdogSecondsValue = "WatchdogSeconds";
constexpr const char *ResendLimitValue = "ResendLimit";

class RunOptionsPanel : public QWidget {
  Q_OBJECT

public:
  explicit RunOptionsPanel(QWidget *parent = nullptr);

  // Read while the settings are open; missing values keep the defaults.
  void Load(SettingsStore &settings);
  void Save(SettingsStore &settings) const;

  // Takes the file as the RAM program when it is one, else keeps the
  // current choice; either way the outcome is shown. Empty: built-in.
  bool ChooseRamProgram(const QString &path);
  // Before channels start: reads the chosen file again (it may have been
  // replaced) and hands it to the engine. Empty when ready, else the
  // reason, and then nothing may start.
  std::string PrepareStart();
  QString RamProgramPath() const;
  // The watchdog's seconds and the re-send limit, as a job pins them.
  void SetLimits(uint32_t watchdogSeconds, uint32_t resendLimit);

private:
  void ShowRamProgramProblem(const std::string &problem);
  void BrowseRamProgram();

  QLineEdit *RamProgramEdit = nullptr;
  QToolButton *RamProgramButton = nullptr;
  QToolButton *RamProgramBuiltInButton = nullptr;
  QLabel *RamProgramProblemLabel = nullptr;
  QSpinBox *WatchdogSpinBox = nullptr;
  QSpinBox *ResendLimitSpinBox = nullptr;
};

} // namespace kestrune
