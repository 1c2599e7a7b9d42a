// The window's controls and their places: the speed frame with Start All and
// Stop All, the file tab and channels 1 to 3 on the left, channels 4 to 8 on
// the right.
#include "ui/ButtonIcons.h"
#include "ui/ElidingStatusBar.h"
#include "ui/FontCheck.h"
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/RunOptionsPanel.h"
#include "ui/SerialSchemePanel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace kestrune {
namespace {

QString Name(int channel, const char *kind) {
  return QString::fromStdString(ControlName(ChannelRows[channel], kind));
}

// Bold, underlined, fixed pitch: "Courier New" where the system has it, its
// nearest monospaced stand-in otherwise.
QFont ChannelLabelFont(const QFont &base) {
  QFont font(base);
  font.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono", "monospace"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setBold(true);
  font.setUnderline(true);
  return font;
}

} // namespace

QWidget *TKestruneUiForm::BuildChannelPanel(int channel) {
  const ChannelRow &row = ChannelRows[channel];
  auto *panel = new QWidget(this);
  panel->setObjectName(QString("ChannelPanel%1").arg(row.Number));
  auto *column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 4, 0, 4);
  column->setSpacing(3);

  auto *label = new QLabel(QString("Num %1. Port").arg(row.Number), panel);
  label->setObjectName(row.LabelName);
  label->setFont(ChannelLabelFont(font()));
  ChannelLabel[channel] = label;

  auto *line = new QHBoxLayout;
  auto *ports = new QComboBox(panel);
  ports->setObjectName(Name(channel, "PortCBox"));
  ports->setEditable(false);
  ports->setMaxVisibleItems(20);
  ports->setToolTip("Select COMM Port");
  ports->setMinimumContentsLength(12);
  ports->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  PortCBox[channel] = ports;
  line->addWidget(ports, 1);

  auto *start = new QPushButton(StartIcon(), "Start", panel);
  start->setObjectName(Name(channel, "StartButton"));
  start->setToolTip("Start Downloading");
  StartButton[channel] = start;
  line->addWidget(start);

  auto *stop = new QPushButton(StopIcon(), "Stop", panel);
  stop->setObjectName(Name(channel, "StopButton"));
  stop->setToolTip("Stop Downloading");
  stop->setLayoutDirection(Qt::RightToLeft); // image right of the caption
  StopButton[channel] = stop;
  line->addWidget(stop);
  column->addLayout(line);

  auto *bar = new QProgressBar(panel);
  bar->setObjectName(Name(channel, "ProgressBar"));
  bar->setRange(1, 100);
  bar->setValue(1);
  bar->setTextVisible(false);
  bar->setToolTip("Progress Bar");
  bar->setMaximumHeight(16);
  ProgressBar[channel] = bar;
  column->addWidget(bar);

  // The status line elides a text too long for it; its tool tip and the
  // channel's log hold the whole text.
  auto *status = new ElidingStatusBar(panel);
  status->setObjectName(Name(channel, "StatusBar"));
  status->setSizeGripEnabled(false);
  status->setToolTip("Status Line");
  status->setMinimumWidth(330);
  status->showMessage("Status");
  StatusBar[channel] = status;

  Panel[channel] = std::make_unique<QtChannelPanel>(bar, status, Speeds);
  Panel[channel]->SetRepeatSource([this] { return RepeatChoice(); });
  Panel[channel]->SetSwapSilenceSource(&SwapSilenceMs);
  AddRunViewControls(channel, panel);
  // The channel's counts beside its label, the whole run's bar below the
  // classic one, its last outcome beside its status line.
  auto *heading = new QHBoxLayout;
  heading->addWidget(label);
  heading->addWidget(CountLabel[channel], 1);
  column->insertLayout(0, heading);
  column->addWidget(RunProgressBar[channel]);
  auto *statusRow = new QHBoxLayout;
  statusRow->addWidget(status, 1);
  statusRow->addWidget(OutcomeLabel[channel]);
  column->addLayout(statusRow);
  column->addWidget(VerdictLabel[channel]);
  column->addWidget(SerialLabel[channel]);
  // A right click anywhere on the channel offers its own log.
  auto *log = new QAction("Log", panel);
  log->setObjectName(Name(channel, "LogAction"));
  log->setToolTip(QString("Show what channel %1 said").arg(row.Number));
  connect(log, &QAction::triggered, this, [this, channel] { ShowLog(channel); });
  panel->addAction(log);
  panel->setContextMenuPolicy(Qt::ActionsContextMenu);
  return panel;
}

void TKestruneUiForm::BuildControls() {
  setObjectName("KestruneUiForm");
  setWindowTitle(FormCaption);
  setWindowIcon(ProgramIcon());
  // No maximise box; the border can be dragged, and what does not fit
  // scrolls.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);

  RadioGroup1 = new QGroupBox("Speed", this);
  RadioGroup1->setObjectName("RadioGroup1");
  auto *speeds = new QHBoxLayout(RadioGroup1);
  Radio230Button = new QRadioButton("115K", RadioGroup1);
  Radio230Button->setObjectName("Radio230Button");
  Radio460Button = new QRadioButton("460K", RadioGroup1);
  Radio460Button->setObjectName("Radio460Button");
  Radio920Button = new QRadioButton("920K", RadioGroup1);
  Radio920Button->setObjectName("Radio920Button");
  Radio920Button->setChecked(true);
  speeds->addWidget(Radio230Button);
  speeds->addWidget(Radio460Button);
  speeds->addWidget(Radio920Button);

  StartAllButton = new QPushButton(StartAllIcon(), "Start All", this);
  StartAllButton->setObjectName("StartAllButton");
  StartAllButton->setToolTip("Start Downloading");
  StopAllButton = new QPushButton(StopAllIcon(), "Stop All", this);
  StopAllButton->setObjectName("StopAllButton");
  StopAllButton->setToolTip("Stop Downloading");
  StopAllButton->setLayoutDirection(Qt::RightToLeft);
  auto *allButtons = new QVBoxLayout;
  allButtons->addWidget(StartAllButton);
  allButtons->addWidget(StopAllButton);
  auto *globalRow = new QHBoxLayout;
  globalRow->addWidget(RadioGroup1, 1);
  globalRow->addLayout(BuildRepeatControls());
  globalRow->addLayout(allButtons);

  TypePageControl = new QTabWidget(this);
  TypePageControl->setObjectName("TypePageControl");
  FlashWritePage = new QWidget;
  FlashWritePage->setObjectName("FlashWritePage");
  TypePageControl->addTab(FlashWritePage, "Flash Write");
  auto *pageLayout = new QVBoxLayout(FlashWritePage);
  GroupBox2 = new QGroupBox("Select File to Download", FlashWritePage);
  GroupBox2->setObjectName("GroupBox2");
  pageLayout->addWidget(GroupBox2);
  auto *fileRow = new QHBoxLayout(GroupBox2);
  Label8 = new QLabel("File", GroupBox2);
  Label8->setObjectName("Label8");
  FlashFileEdit = new QLineEdit(GroupBox2);
  FlashFileEdit->setObjectName("FlashFileEdit");
  FlashFileEdit->setReadOnly(true);
  FlashFileEdit->setToolTip("Flash Download File");
  FlashFileButton = new QToolButton(GroupBox2);
  FlashFileButton->setObjectName("FlashFileButton");
  FlashFileButton->setIcon(OpenFileIcon());
  FlashFileButton->setAutoRaise(true); // flat
  FlashFileButton->setToolTip("Select Flash Download File");
  fileRow->addWidget(Label8);
  fileRow->addWidget(FlashFileEdit, 1);
  fileRow->addWidget(FlashFileButton);
  Serials = new SerialSchemePanel(FlashWritePage);
  pageLayout->addWidget(Serials);
  RunOptions = new RunOptionsPanel(FlashWritePage);
  pageLayout->addWidget(RunOptions);

  CommTimer = new QTimer(this);
  CommTimer->setObjectName("CommTimer");

  FontWarningLabel = new QLabel(MissingKoreanFontText, this);
  FontWarningLabel->setObjectName("FontWarningLabel");
  FontWarningLabel->setWordWrap(true);
  FontWarningLabel->setStyleSheet("QLabel { color: #8e1b1b; }");
  FontWarningLabel->hide();

  BuildJobControls();

  auto *left = new QVBoxLayout;
  left->addLayout(globalRow);
  left->addWidget(TypePageControl);
  left->addWidget(JobMode);
  left->addWidget(BuildStationRow());
  left->addWidget(FontWarningLabel);
  auto *right = new QVBoxLayout;
  for (int channel = 0; channel < ChannelCount; ++channel)
    (channel < 3 ? left : right)->addWidget(BuildChannelPanel(channel));
  left->addStretch(1);
  right->addStretch(1);

  auto *columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addSpacing(8);
  columns->addLayout(right);
  PlaceInScrollArea(columns);
}

} // namespace kestrune
