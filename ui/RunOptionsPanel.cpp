#include "ui/RunOptionsPanel.h"

#include "engine/RamProgramSource.h"
#include "engine/Watchdog.h"
#include "platform/SettingsStore.h"
#include "ui/ButtonIcons.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

namespace kestrune {

RunOptionsPanel::RunOptionsPanel(QWidget *parent) : QWidget(parent) {
  setObjectName("RunOptionsPanel");
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);

  auto *ramLabel = new QLabel("RAM program", this);
  ramLabel->setObjectName("RamProgramLabel");
  RamProgramEdit = new QLineEdit(this);
  RamProgramEdit->setObjectName("RamProgramEdit");
  RamProgramEdit->setReadOnly(true);
  RamProgramEdit->setPlaceholderText("Built-in reference program");
  RamProgramEdit->setToolTip(QString("The handset family's own loader, exactly %1 bytes")
                                 .arg(RamProgramLength));
  RamProgramButton = new QToolButton(this);
  RamProgramButton->setObjectName("RamProgramButton");
  RamProgramButton->setIcon(OpenFileIcon());
  RamProgramButton->setAutoRaise(true);
  RamProgramButton->setToolTip("Select RAM Program File");
  RamProgramBuiltInButton = new QToolButton(this);
  RamProgramBuiltInButton->setObjectName("RamProgramBuiltInButton");
  RamProgramBuiltInButton->setText("Built-in");
  RamProgramBuiltInButton->setToolTip("Send the built-in reference RAM program");
  auto *ramRow = new QHBoxLayout;
  ramRow->addWidget(RamProgramEdit, 1);
  ramRow->addWidget(RamProgramButton);
  ramRow->addWidget(RamProgramBuiltInButton);
  grid->addWidget(ramLabel, 0, 0);
  grid->addLayout(ramRow, 0, 1);

  RamProgramProblemLabel = new QLabel(this);
  RamProgramProblemLabel->setObjectName("RamProgramProblemLabel");
  RamProgramProblemLabel->setWordWrap(true);
  RamProgramProblemLabel->setStyleSheet("QLabel { color: #8e1b1b; }");
  RamProgramProblemLabel->hide();
  grid->addWidget(RamProgramProblemLabel, 1, 1);

  auto *limitLabel = new QLabel("Watchdog", this);
  limitLabel->setObjectName("WatchdogLabel");
  WatchdogSpinBox = new QSpinBox(this);
  WatchdogSpinBox->setObjectName("WatchdogSpinBox");
  WatchdogSpinBox->setRange(0, int(MaxWatchdogSeconds));
  WatchdogSpinBox->setSuffix(" s");
  WatchdogSpinBox->setSpecialValueText("Off");
  WatchdogSpinBox->setValue(int(DefaultWatchdogSeconds));
  WatchdogSpinBox->setToolTip("Fail a channel whose handset stays silent this long after the "
                              "boot ROM answered; waits after a flash erase get longer");
  auto *resendLabel = new QLabel("Re-sends", this);
  resendLabel->setObjectName("ResendLimitLabel");
  ResendLimitSpinBox = new QSpinBox(this);
  ResendLimitSpinBox->setObjectName("ResendLimitSpinBox");
  ResendLimitSpinBox->setRange(0, int(MaxResendLimit));
  ResendLimitSpinBox->setSpecialValueText("No limit");
  ResendLimitSpinBox->setValue(int(DefaultResendLimit));
  ResendLimitSpinBox->setToolTip("Fail a channel whose handset refuses one block more often "
                                 "than this in a row");
  auto *limitRow = new QHBoxLayout;
  limitRow->addWidget(WatchdogSpinBox);
  limitRow->addSpacing(12);
  limitRow->addWidget(resendLabel);
  limitRow->addWidget(ResendLimitSpinBox);
  limitRow->addStretch(1);
  grid->addWidget(limitLabel, 2, 0);
  grid->addLayout(limitRow, 2, 1);

  // The engine's limits follow the boxes at once; they are read by each
  // run when it begins.
  connect(WatchdogSpinBox, &QSpinBox::valueChanged, this,
          [](int seconds) { SetWatchdogSeconds(uint32_t(seconds)); });
  connect(ResendLimitSpinBox, &QSpinBox::valueChanged, this,
          [](int limit) { SetResendLimit(uint32_t(limit)); });
  connect(RamProgramButton, &QToolButton::clicked, this, &RunOptionsPanel::BrowseRamProgram);
  connect(RamProgramBuiltInButton, &QToolButton::clicked, this,
          [this] { ChooseRamProgram(QString()); });
  SetWatchdogSeconds(DefaultWatchdogSeconds);
  SetResendLimit(DefaultResendLimit);
}

void RunOptionsPanel::Load(SettingsStore &settings) {
  if (auto seconds = settings.ReadInteger(WatchdogSecondsValue))
    WatchdogSpinBox->setValue(std::clamp(*seconds, 0, int(MaxWatchdogSeconds)));
  if (auto limit = settings.ReadInteger(ResendLimitValue))
    ResendLimitSpinBox->setValue(std::clamp(*limit, 0, int(MaxResendLimit)));
  // A remembered file stays named even when it is no RAM program any more:
  // the problem is shown and nothing starts until the operator chooses.
  if (auto path = settings.ReadString(RamProgramFileValue); path && !path->empty()) {
    RamProgramEdit->setText(QString::fromStdString(*path));
    ShowRamProgramProblem(PrepareStart());
  }
}

void RunOptionsPanel::Save(SettingsStore &settings) const {
  settings.WriteInteger(WatchdogSecondsValue, WatchdogSpinBox->value());
  settings.WriteInteger(ResendLimitValue, ResendLimitSpinBox->value());
  settings.WriteString(RamProgramFileValue, RamProgramEdit->text().toStdString());
}

QString RunOptionsPanel::RamProgramPath() const { return RamProgramEdit->text(); }

bool RunOptionsPanel::ChooseRamProgram(const QString &path) {
  if (path.isEmpty()) {
    UseRamProgram(nullptr);
    RamProgramEdit->clear();
    ShowRamProgramProblem({});
    return true;
  }
  RamProgramFile file = ReadRamProgramFile(path.toStdString());
  if (!file.Program) {
    ShowRamProgramProblem(file.Error);
    return false;
  }
  UseRamProgram(std::move(file.Program));
  RamProgramEdit->setText(path);
  ShowRamProgramProblem({});
  return true;
}

std::string RunOptionsPanel::PrepareStart() {
  const QString path = RamProgramEdit->text();
  if (path.isEmpty()) {
    UseRamProgram(nullptr);
    return {};
  }
  RamProgramFile file = ReadRamProgramFile(path.toStdString());
  ShowRamProgramProblem(file.Error);
  if (!file.Program)
    return file.Error;
  UseRamProgram(std::move(file.Program));
  return {};
}

void RunOptionsPanel::ShowRamProgramProblem(const std::string &problem) {
  RamProgramProblemLabel->setText(QString::fromStdString(problem));
  RamProgramProblemLabel->setVisible(!problem.empty());
}

void RunOptionsPanel::BrowseRamProgram() {
  QString path = QFileDialog::getOpenFileName(this, "Select RAM Program File", RamProgramPath(),
                                              "RAM program (*.bin);;All files (*)");
  if (!path.isEmpty())
    ChooseRamProgram(path);
}

void RunOptionsPanel::SetLimits(uint32_t watchdogSeconds, uint32_t resendLimit) {
  WatchdogSpinBox->setValue(int(watchdogSeconds));
  ResendLimitSpinBox->setValue(int(resendLimit));
}

} // namespace kestrune
