// The window's start-up and shut-down, and the wiring of its controls.
#include "ui/KestruneUiForm.h"

#include "engine/CommsThread.h"
#include "engine/LineSpeed.h"
#include "platform/SettingsStore.h"
#include "ui/PlatformSettings.h"
#include "ui/PortLists.h"
#include "ui/SignalCloser.h"
#include "ui/LiveStateFeed.h"
#include "ui/WindowRecords.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace kestrune {

TKestruneUiForm::TKestruneUiForm(FormEnvironment environment, QWidget *parent)
    : QWidget(parent), Environment(std::move(environment)) {
  BuildControls();
  ConnectControls();
  FlashCreate();
  // As large as the panels need, within the screen; centred at start.
  FitToScreen();
  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TKestruneUiForm::~TKestruneUiForm() {
  if (State == Lifecycle::Open)
    FlashDestroy();
}

void TKestruneUiForm::ConnectControls() {
  for (int channel = 0; channel < ChannelCount; ++channel) {
    connect(StartButton[channel], &QPushButton::clicked, this, [this, channel] { StartClick(channel); });
    connect(StopButton[channel], &QPushButton::clicked, this, [this, channel] { StopClick(channel); });
    // The worker reads the port name from a copy the window keeps current.
    connect(PortCBox[channel], &QComboBox::currentIndexChanged, this, [this, channel] {
      Panel[channel]->SetPortText(PortText(channel).toStdString());
      ShowChoiceToolTip(PortCBox[channel]);
      PortChange(channel);
    });
  }
  connect(StartAllButton, &QPushButton::clicked, this, [this] { StartAllClick(); });
  connect(StopAllButton, &QPushButton::clicked, this, [this] { StopAllClick(); });
  AddStationShortcuts();
  connect(FlashFileEdit, &QLineEdit::textChanged, this, [this] { ParameterChange(0); });
  FlashFileEdit->installEventFilter(this);
  connect(FlashFileButton, &QToolButton::clicked, this, [this] { ActivateFlashFileDialog(); });
  connect(CommTimer, &QTimer::timeout, this, [this] { TimerExpire(); });

  // Workers read the speed choice from a copy the window keeps current.
  auto mirror = [this] {
    Speeds.Radio920Button = Radio920Button->isChecked();
    Speeds.Radio230Button = Radio230Button->isChecked();
    Speeds.Radio460Button = Radio460Button->isChecked();
  };
  for (QRadioButton *button : {Radio230Button, Radio460Button, Radio920Button})
    connect(button, &QRadioButton::toggled, this, mirror);
  mirror();
}

bool TKestruneUiForm::eventFilter(QObject *watched, QEvent *event) {
  // A click on the file edit opens the file dialog, as its button does.
  if (watched == FlashFileEdit && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && FlashFileEdit->isEnabled()) {
    ActivateFlashFileDialog();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TKestruneUiForm::FlashCreate() {
  CommsThread.fill(nullptr);
  Registry = Environment.CreateSettings ? Environment.CreateSettings() : CreatePlatformSettings();
  FillPortLists();
  WriteFileAssociation();
  LoadSettings();
  StartRecords();
  TakeCommandLineFile();
  TakeCommandLineJob();
  if (!FlashFileEdit->text().isEmpty())
    StartMotLoad(FlashFileEdit->text());
  for (QPushButton *stop : StopButton)
    stop->setEnabled(false);
  for (int channel = 0; channel < ChannelCount; ++channel)
    ParameterChange(channel);
  for (int channel = 0; channel < ChannelCount; ++channel)
    SetStatus(channel, ChannelRows[channel].IdleText);
  if (!JobProblemAtStart.empty())
    SetStatus(0, QString::fromStdString("ERROR " + JobProblemAtStart));
  ShowCounts();
  CheckFonts();
  StartPortRescan();
}

void TKestruneUiForm::StartRecords() {
  Records = std::make_unique<WindowRecords>(*Registry, this);
  StartLiveState();
  auto *action = new QAction("Run records...", this);
  action->setObjectName("RecordsAction");
  action->setShortcut(QKeySequence("Ctrl+R"));
  connect(action, &QAction::triggered, this, [this] {
    if (Registry)
      Records->ShowDialog(*Registry, !AllChannelsIdle());
  });
  addAction(action);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  // The channels' own menus keep the window's entry after their log.
  for (const ChannelRow &row : ChannelRows) {
    if (auto *panel = findChild<QWidget *>(QString("ChannelPanel%1").arg(row.Number)))
      panel->addAction(action);
  }
}

void TKestruneUiForm::closeEvent(QCloseEvent *event) {
  // A second close while the first still waits for the workers is ignored;
  // the first one closes the window.
  if (State == Lifecycle::Closing) {
    event->ignore();
    return;
  }
  // Closing while channels flash asks once; No keeps them running. A close
  // asked for while the question is open waits for its answer.
  const QString question = CloseQuestion();
  if (State == Lifecycle::Open && !question.isEmpty() && !property(UnaskedCloseProperty).toBool()) {
    if (AskingToClose) {
      event->ignore();
      return;
    }
    AskingToClose = true;
    const bool close = Environment.AskToClose
                           ? Environment.AskToClose(question)
                           : QMessageBox::question(this, FormCaption, question,
                                                   QMessageBox::Yes | QMessageBox::No,
                                                   QMessageBox::No) == QMessageBox::Yes;
    AskingToClose = false;
    if (!close) {
      event->ignore();
      return;
    }
  }
  if (State == Lifecycle::Open)
    FlashDestroy();
  event->accept();
}

void TKestruneUiForm::FlashDestroy() {
  State = Lifecycle::Closing;
  for (TCommsThread *worker : CommsThread) {
    if (worker != nullptr)
      worker->RequestStop();
  }
  // The workers still show their last texts and need this thread for that;
  // it serves them until every end handler has run, so no worker outlives
  // the controls it reports to.
  WaitForQuiet();
  LiveState->Stop();
  // The line's server is not waited for: what it has not taken stays in
  // the station's database, is said here, and goes at the next start.
  QStringList told;
  std::vector<std::string> unsent = Records->CloseNow();
  if (JobRecords)
    for (std::string &text : JobRecords->CloseNow())
      unsent.push_back(std::move(text));
  for (const std::string &text : unsent)
    told << QString::fromStdString(text);
  if (!told.isEmpty()) {
    const QString text = told.join('\n');
    if (Environment.TellAtClose)
      Environment.TellAtClose(text);
    else
      QMessageBox::information(this, "Run records", text);
  }
  SaveSettings();
  Registry.reset();
  // Past their end handlers the workers only free themselves.
  TCommsThread::WaitForAllWorkers();
  State = Lifecycle::Closed;
}

void TKestruneUiForm::WaitForQuiet() {
  if (AllChannelsIdle() && !MotThread.Running())
    return;
  QEventLoop loop;
  QuietLoop = &loop;
  loop.exec();
  QuietLoop = nullptr;
}

void TKestruneUiForm::QuitQuietLoopWhenDone() {
  if (QuietLoop != nullptr && AllChannelsIdle() && !MotThread.Running())
    QuietLoop->quit();
}

QString TKestruneUiForm::PortText(int channel) const { return ChosenPort(PortCBox[channel]); }

void TKestruneUiForm::SetStatus(int channel, const QString &text) {
  // The load's poll repeats its text every 10 ms; the log takes it once.
  if (text != StatusBar[channel]->currentMessage())
    LogStatus(channel, text.toStdString());
  StatusBar[channel]->showMessage(text);
}

} // namespace kestrune
