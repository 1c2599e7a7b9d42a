// Helpers of the window's tests: pseudo-terminals standing in for serial
// ports, a temporary XDG home, environment changes that undo themselves,
// a loader routine the test controls, and access to the window's controls
// by their object names.
#pragma once

#include "ui/KestruneUiForm.h"

#include <QString>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::uitest {

// A pseudo-terminal: the test keeps the master; the slave path is the port.
// A second slave descriptor stays open so the master never sees a hang-up.
class TestPty {
public:
  TestPty();
  ~TestPty();
  TestPty(const TestPty &) = delete;
  TestPty &operator=(const TestPty &) = delete;
  int Master() const { return MasterFd; }
  const std::string &Path() const { return SlavePath; }

private:
  int MasterFd = -1;
  int KeeperFd = -1;
  std::string SlavePath;
};

// Reads and throws away whatever the hosts write to the masters, as a
// switched-off handset's line would, until destroyed.
class LineDrainer {
public:
  explicit LineDrainer(std::vector<int> masters);
  ~LineDrainer();

private:
  void Run();
  std::vector<int> Masters;
  int WakeFds[2] = {-1, -1};
  std::thread Thread;
};

// Sets (or unsets) an environment variable for the scope.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const std::optional<std::string> &value);
  ~ScopedEnv();

private:
  std::string Name;
  std::optional<std::string> Previous;
};

// XDG_CONFIG_HOME and XDG_DATA_HOME in a fresh temporary directory. The
// desktop database tools are kept out of reach (PATH), so that none runs
// on the directory while it is being removed.
class TempXdg {
public:
  TempXdg();
  QString ConfigHome() const { return Dir.path() + "/config"; }
  QString DataHome() const { return Dir.path() + "/data"; }
  QString SettingsFile() const { return ConfigHome() + "/Orv/Kestrune.conf"; }
  QString Root() const { return Dir.path(); }

private:
  QTemporaryDir Dir;
  std::unique_ptr<ScopedEnv> Config;
  std::unique_ptr<ScopedEnv> Data;
  std::unique_ptr<ScopedEnv> Path;
};

// A loader routine whose progress the test decides: it shows texts given to
// it, waits until released and returns the chosen exit code.
class ControlledLoader {
public:
  std::function<int()> Routine();
  void Show(const std::string &text); // becomes the loader's status text
  void Finish(int exitCode, const std::string &text, const std::string &imageFile = {});
  bool Started() const { return Runs.load() > 0; }
  int RunCount() const { return Runs.load(); }
  std::string SeenFileName() const;

private:
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  std::optional<int> ExitCode;
  std::string Pending;
  bool TextWaiting = false;
  std::string FinalText;
  std::string ImageFile;
  std::string FileName;
  std::atomic<int> Runs{0};
};

// The loader that ends at once with the given code and text.
std::function<int()> ImmediateLoader(int exitCode, const std::string &text,
                                     const std::string &imageFile = {});

// askToClose answers the question asked when the window closes while
// channels run; empty: always yes.
std::unique_ptr<TKestruneUiForm> MakeForm(std::function<int()> loader,
                                          QStringList arguments = {"kestrune"},
                                          std::function<bool(const QString &)> askToClose = {});

template <typename T> T *Control(QWidget *form, const QString &name) {
  T *control = form->findChild<T *>(name);
  if (control == nullptr)
    qFatal("no control named %s", qPrintable(name));
  return control;
}

QString StatusText(QWidget *form, int channel);
// Runs fn on the next modal dialog as soon as it is shown; watches until
// the returned timer goes.
std::unique_ptr<QTimer> OnNextModal(std::function<void(QWidget *)> fn);
QString ChannelControlName(int channel, const char *kind);
// Waits (serving events) until the load has ended.
bool WaitForLoad(TKestruneUiForm &form, int timeoutMs = 5000);

} // namespace kestrune::uitest
