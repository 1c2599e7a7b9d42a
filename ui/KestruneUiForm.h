// The program's one window: eight channel panels (port list, Start, Stop,
// progress bar, status line) and the controls that serve all channels
// (speed, Start All, Stop All, the image file). It starts a channel worker
// per Start, asks workers to stop, tidies a panel when its worker has ended,
// loads the image file on a thread of its own and keeps the operator's
// choices between runs.
#pragma once

#include "engine/ChannelRow.h"
#include "engine/RepeatPlan.h"
#include "engine/RunReport.h"
#include "engine/RunTally.h"
#include "engine/UnitGate.h"
#include "ui/ChannelLog.h"
#include "platform/PortList.h"
#include "image/ImageBytes.h"
#include "image/MotLoader.h"
#include "job/JobFile.h"
#include "ui/QtChannelPanel.h"

#include <QStringList>
#include <QWidget>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QEventLoop;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kestrune {

class ChannelLogDialog;
class JobModePanel;
class LiveStateFeed;
namespace records {
struct ChannelState;
}
class RunOptionsPanel;
class SerialSchemePanel;
class SettingsStore;
class TCommsThread;
class WindowRecords;

// What the window takes from outside; tests replace parts of it.
struct FormEnvironment {
  // The command line, program first.
  QStringList Arguments;
  // The full path of the program file, for the .mot association.
  QString ProgramPath;
  // The settings backend of this platform when empty.
  std::function<std::unique_ptr<SettingsStore>()> CreateSettings;
  // The image loader routine run on the loading thread: reads MotFileName,
  // writes the image state and LoadStatusText, returns 0 when the image is
  // ready.
  std::function<int()> LoaderRoutine;
  // Whether the Korean status texts can be drawn; the installed fonts are
  // asked when empty.
  std::function<bool()> KoreanFontsAvailable;
  // Asked on the window's thread when the window is closed while channels
  // run, with the question's text; true stops them and closes. A Yes/No
  // message box when empty.
  std::function<bool(const QString &question)> AskToClose;
  // Told on the window's thread as the window closes, once the records are
  // written: what the line's server has not taken (kept in the station's
  // database for the next start). A message box when empty.
  std::function<void(const QString &text)> TellAtClose;
};

// The caption and the file dialog's texts.
constexpr const char *FormCaption = "Zel bufferedwrite 8ch";
constexpr const char *FlashFileDialogTitle = "Select MOT or BIN file";
constexpr const char *FlashFileFilter = "Flash Binary format (*.bif)|*.BIF|Motorola format "
                                        "(*.mot)|*.MOT|Raw Binary format (*.bin)|*.BIN";
constexpr const char *SelectFileText = " Select Flash Download File !!!";
constexpr const char *ShuttingDownText = "Shutting down COMM";
constexpr const char *SyncingText = "Syncing with target";
constexpr const char *CheckingMotText = "Checking MOT file";
constexpr const char *LoaderThreadErrorText = "ERROR Could not create thread to load MOT";
constexpr const char *LoadingApplicationTitle = " Flash Downloader ";
// Settings of the repeat mode: the check box, and the milliseconds the boot
// ROM call must go unanswered before the next handset counts.
constexpr const char *RepeatValue = "Repeat";
constexpr const char *RepeatSilenceValue = "Repeat Swap Silence ms";
// Runs in all per channel while repeating; 0: until Stop.
constexpr const char *RepeatRunsValue = "Repeat Runs";
// The swap silence the window offers, in steps of a tenth of a second.
constexpr std::chrono::milliseconds MinWindowSwapSilence{100};
constexpr std::chrono::milliseconds MaxWindowSwapSilence{60000};

// The file dialog's filter in Qt's form: one entry per description.
QStringList QtNameFilters(const QString &filter);

class TKestruneUiForm : public QWidget {
  Q_OBJECT

public:
  explicit TKestruneUiForm(FormEnvironment environment, QWidget *parent = nullptr);
  // Closes as the close button does if that has not happened yet.
  ~TKestruneUiForm() override;

  // Handlers of the controls (also called by the window's own operations).
  void StartClick(int channel);
  void StopClick(int channel);
  void StartAllClick();
  void StopAllClick();
  void ParameterChange(int channel);
  void PortChange(int channel);
  void ActivateFlashFileDialog();
  void TimerExpire();
  // Looks for ports that have come or gone (the rescan timer calls it) and
  // brings the lists of idle channels up to date; chosen ports stay chosen.
  void RescanPorts();

  // Operations of the window.
  void StartChannel(int channel);
  void CommsTerminate(int channel);
  bool AllChannelsIdle() const;
  // "3 channels are flashing: stop them and close?"; empty when none runs.
  QString CloseQuestion() const;
  // Idle, with the mark of a run that ended in this session: Stop and Stop
  // All leave such a channel as it is.
  bool ShowsEndedRun(int channel) const;
  void UpdateFileControls();
  void StartMotLoad(const QString &fileName);
  int32_t ReadRegInteger(const std::string &name, int32_t defaultValue);
  std::string ReadRegString(const std::string &name, const std::string &defaultValue);

  int32_t ImageReadyValue() const { return ImageReady; }
  // The channel's worker while it runs, nothing while the channel is idle.
  TCommsThread *Worker(int channel) const { return CommsThread[channel]; }
  bool ImageLoadRunning() const { return MotThread.Running(); }

  // The operator's view of runs: each channel's last outcome (nothing before
  // its first run and while it runs), its counts and the station's, and
  // what each channel has said.
  std::optional<RunOutcome> LastOutcome(int channel) const { return Outcome[channel]; }
  const RunTally &Tally(int channel) const { return Tallies[channel]; }
  RunTally StationTallyValue() const { return StationTally(Tallies); }
  const ChannelLog &Log(int channel) const { return Logs[channel]; }
  void ResetCounts();
  // Opens (or raises) the log view on a channel.
  ChannelLogDialog *ShowLog(int channel);
  // Brings the progress texts and bars up to date (the view's timer does).
  void RefreshRunView();
  // The station's repeat mode as the next run end will see it.
  RepeatPlan RepeatChoice() const;

  // Operator mode: opens the production job (while no channel runs),
  // applies it to the controls and locks every control it pins; load:
  // loads its image at once. Empty when open, else the reason.
  std::string OpenJob(const QString &path, bool load = true);
  // Asks for the supervisor's password; true when the job was closed.
  bool CloseJob();
  const JobModePanel &JobModeView() const;

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void BuildControls();
  QWidget *BuildChannelPanel(int channel);
  void ConnectControls();
  void AddStationShortcuts();
  void FlashCreate();
  void StartRecords();
  // Moves records, ledger and job count to the place the settings now name
  // (FormRecordsPlace.cpp); empty when the start may go on.
  std::string FollowRecordsPlace();
  // The channels' live state for the line's dashboard (FormLiveState.cpp).
  void StartLiveState();
  std::vector<records::ChannelState> LiveChannels() const;
  void FlashDestroy();
  void WaitForQuiet();
  void QuitQuietLoopWhenDone();
  void FillPortLists();
  void WriteFileAssociation();
  void LoadSettings();
  void SaveSettings();
  void TakeCommandLineFile();
  // False, with the reason on the channel's status line, when the chosen
  // RAM program file cannot be sent: then nothing starts.
  bool RunOptionsReady(int channel);
  QString PortText(int channel) const;
  // Refuses a start that would put two channels on one port: shows why on
  // the channels concerned and returns true. `starting` are idle channels.
  bool RefuseSharedPorts(const std::vector<int> &starting);
  void StartPortRescan();
  void SetStatus(int channel, const QString &text);

  // The run view beside the classic controls.
  void AddRunViewControls(int channel, QWidget *panel);
  QWidget *BuildStationRow();
  void PlaceInScrollArea(QLayout *columns);
  void FitToScreen();
  void CheckFonts();
  void LogStatus(int channel, const std::string &text);
  void BeginRunView(int channel);
  // Everything the window does with a run that has ended, before the
  // channel's panel is restored: outcome mark, counts, progress, log.
  void ShowRunResult(int channel, const RunReport &report);
  // unit: the number of the unit the mark is for (in its tool tip), while
  // a repeating channel waits for the next one; 0 otherwise.
  void ShowOutcome(int channel, bool running, uint32_t unit = 0);
  // A repeating channel between units: the last unit's verdict and its
  // text on a line of their own, until the next unit answers.
  void ShowUnitVerdict(int channel, const RunReport &report);
  void BeginNextUnit(int channel);
  void ShowCounts();
  void LoadCounts();
  void SaveCounts();
  void WriteCounts(); // into the open settings

  // The production job.
  void BuildJobControls();
  void ActivateJobDialog();
  std::string ApplyJob(const job::JobFile &job);
  void LockPinnedControls();
  // Empty when the open job (if any) lets a unit start: its image's and RAM
  // program's digests, and the digest the operator types when it asks.
  std::string JobStartProblem();
  std::string JobImageProblem() const; // the digests only

  void TakeCommandLineJob();

  // Repeat mode.
  // The check box with the swap silence below it.
  QLayout *BuildRepeatControls();
  void ShowSwapSilenceEnabled(bool on);
  void ContinueRepeat(int channel, const RunReport &report);
  void LoadRepeatSetting();  // from the open settings
  void WriteRepeatSetting(); // into the open settings
  void SaveRepeatSetting();

  FormEnvironment Environment;

  // Controls that serve all channels.
  QGroupBox *RadioGroup1 = nullptr;
  QRadioButton *Radio230Button = nullptr;
  QRadioButton *Radio460Button = nullptr;
  QRadioButton *Radio920Button = nullptr;
  QPushButton *StartAllButton = nullptr;
  QPushButton *StopAllButton = nullptr;
  QTabWidget *TypePageControl = nullptr;
  QWidget *FlashWritePage = nullptr;
  QGroupBox *GroupBox2 = nullptr;
  QLabel *Label8 = nullptr;
  QLineEdit *FlashFileEdit = nullptr;
  QToolButton *FlashFileButton = nullptr;
  QFileDialog *OpenDialog = nullptr;
  QTimer *CommTimer = nullptr;
  QTimer *PortRescanTimer = nullptr;
  PortScanner Scanner;
  std::vector<PortEntry> PresentPorts;
  QCheckBox *RepeatCheckBox = nullptr;
  QLabel *SwapSilenceLabel = nullptr;
  QDoubleSpinBox *SwapSilenceSpinBox = nullptr;
  QLabel *RepeatRunsLabel = nullptr;
  QSpinBox *RepeatRunsSpinBox = nullptr;
  // The swap silence's box in milliseconds, for the channels' workers: they
  // read it on every call while they wait for the next handset.
  std::atomic<int64_t> SwapSilenceMs{DefaultSwapSilence.count()};
  // RAM program, watchdog and re-send limit, under the file controls.
  RunOptionsPanel *RunOptions = nullptr;
  SerialSchemePanel *Serials = nullptr;
  JobModePanel *JobMode = nullptr;
  // The open job's count of units, asked before each unit; null without.
  std::shared_ptr<UnitGate> JobGate;
  std::string OpenJobCount(const job::JobFile &job);
  std::string JobProblemAtStart; // the command line's job that could not be opened

  // Channel panels, indexed by channel (0 for channel 1).
  std::array<QLabel *, ChannelCount> ChannelLabel{};
  std::array<QComboBox *, ChannelCount> PortCBox{};
  std::array<QPushButton *, ChannelCount> StartButton{};
  std::array<QPushButton *, ChannelCount> StopButton{};
  std::array<QProgressBar *, ChannelCount> ProgressBar{};
  std::array<QStatusBar *, ChannelCount> StatusBar{};
  std::array<std::unique_ptr<QtChannelPanel>, ChannelCount> Panel;
  SpeedMirror Speeds;

  // The run view.
  std::array<QLabel *, ChannelCount> OutcomeLabel{};
  std::array<QLabel *, ChannelCount> CountLabel{};
  std::array<QLabel *, ChannelCount> VerdictLabel{};
  // The serial values going into the channel's current unit.
  std::array<QLabel *, ChannelCount> SerialLabel{};
  std::array<QProgressBar *, ChannelCount> RunProgressBar{};
  QLabel *StationCountLabel = nullptr;
  QPushButton *ResetCountsButton = nullptr;
  QPushButton *LogButton = nullptr;
  QLabel *FontWarningLabel = nullptr;
  QScrollArea *ScrollArea = nullptr;
  QWidget *Content = nullptr;
  QTimer *RunViewTimer = nullptr;
  ChannelLogDialog *LogDialog = nullptr;
  std::array<std::optional<RunOutcome>, ChannelCount> Outcome{};
  std::array<RunTally, ChannelCount> Tallies{};
  std::array<ChannelLog, ChannelCount> Logs{};

  // The workers, one slot per channel; empty while the channel is idle.
  // A worker frees itself; its end handler empties its slot.
  std::array<TCommsThread *, ChannelCount> CommsThread{};
  std::unique_ptr<SettingsStore> Registry;
  MotLoader MotThread;
  int32_t ImageReady = 0;
  // The latest successful load's bytes: every run started from the window
  // sends them until a load replaces them.
  std::shared_ptr<const ImageBytes> Image;
  // Channels whose start waits for a reload of a changed image file.
  std::vector<int> StartsAfterLoad;
  // Reloads the chosen file when it changed since its load; true when the
  // starts wait for that load.
  bool ReloadBeforeStart(const std::vector<int> &channels);
  // A record of every run; the records dialog on the window's context menu.
  std::unique_ptr<WindowRecords> Records;
  // An open job's own records place and station (when it names either):
  // its runs are kept there. Replaced only while no channel runs, and
  // closed with the window, so a run still going when the job closes keeps
  // its keeper.
  std::unique_ptr<WindowRecords> JobRecords;
  WindowRecords &RunRecords();
  std::unique_ptr<LiveStateFeed> LiveState;

  enum class Lifecycle { Open, Closing, Closed };
  Lifecycle State = Lifecycle::Open;
  bool AskingToClose = false;
  QEventLoop *QuietLoop = nullptr;
};

} // namespace kestrune
