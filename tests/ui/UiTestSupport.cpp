#include "tests/ui/UiTestSupport.h"

#include "engine/ChannelRow.h"
#include "image/ImageState.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace kestrune::uitest {

TestPty::TestPty() {
  MasterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (MasterFd < 0 || ::grantpt(MasterFd) != 0 || ::unlockpt(MasterFd) != 0)
    throw std::runtime_error("no pseudo-terminal");
  SlavePath = ::ptsname(MasterFd);
  KeeperFd = ::open(SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

TestPty::~TestPty() {
  if (KeeperFd >= 0)
    ::close(KeeperFd);
  if (MasterFd >= 0)
    ::close(MasterFd);
}

LineDrainer::LineDrainer(std::vector<int> masters) : Masters(std::move(masters)) {
  if (::pipe2(WakeFds, O_CLOEXEC) != 0)
    throw std::runtime_error("no pipe");
  Thread = std::thread([this] { Run(); });
}

LineDrainer::~LineDrainer() {
  char byte = 0;
  [[maybe_unused]] ssize_t n = ::write(WakeFds[1], &byte, 1);
  Thread.join();
  ::close(WakeFds[0]);
  ::close(WakeFds[1]);
}

void LineDrainer::Run() {
  std::vector<pollfd> fds;
  fds.push_back({WakeFds[0], POLLIN, 0});
  for (int master : Masters)
    fds.push_back({master, POLLIN, 0});
  char buffer[4096];
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) < 0)
      continue;
    if (fds[0].revents != 0)
      return;
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN)
        [[maybe_unused]] ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
    }
  }
}

ScopedEnv::ScopedEnv(const char *name, const std::optional<std::string> &value) : Name(name) {
  if (const char *old = std::getenv(name))
    Previous = old;
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (Previous)
    ::setenv(Name.c_str(), Previous->c_str(), 1);
  else
    ::unsetenv(Name.c_str());
}

TempXdg::TempXdg() {
  QDir().mkpath(ConfigHome());
  QDir().mkpath(DataHome());
  Config = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", ConfigHome().toStdString());
  Data = std::make_unique<ScopedEnv>("XDG_DATA_HOME", DataHome().toStdString());
  Path = std::make_unique<ScopedEnv>("PATH", (Dir.path() + "/no-tools").toStdString());
}

namespace {

// What the loader makes ready for a raw image file; none for a file that
// is not there, so that the channels fail before their first block.
std::shared_ptr<const ImageBytes> RawImageOf(const std::string &path) {
  if (!std::filesystem::exists(path))
    return nullptr;
  std::string error;
  auto image = ReadImageBytes(path, IdentifyFile(path), path, true, error);
  EXPECT_TRUE(image) << error;
  return image;
}

} // namespace

std::function<int()> ControlledLoader::Routine() {
  return [this] {
    ++Runs;
    std::unique_lock lock(Mutex);
    FileName = MotFileName.Get();
    for (;;) {
      Changed.wait(lock, [this] { return TextWaiting || ExitCode.has_value(); });
      if (TextWaiting) {
        LoadStatusText.Set(Pending);
        TextWaiting = false;
        Changed.notify_all();
        continue;
      }
      if (!ImageFile.empty())
        LoadedImageReady.Set(RawImageOf(ImageFile));
      LoadStatusText.Set(FinalText);
      int code = *ExitCode;
      ExitCode.reset();
      return code;
    }
  };
}

void ControlledLoader::Show(const std::string &text) {
  std::unique_lock lock(Mutex);
  Pending = text;
  TextWaiting = true;
  Changed.notify_all();
  Changed.wait(lock, [this] { return !TextWaiting; });
}

void ControlledLoader::Finish(int exitCode, const std::string &text,
                              const std::string &imageFile) {
  std::lock_guard lock(Mutex);
  FinalText = text;
  ImageFile = imageFile;
  ExitCode = exitCode;
  Changed.notify_all();
}

std::string ControlledLoader::SeenFileName() const {
  std::lock_guard lock(Mutex);
  return FileName;
}

std::function<int()> ImmediateLoader(int exitCode, const std::string &text,
                                     const std::string &imageFile) {
  return [=] {
    if (!imageFile.empty())
      LoadedImageReady.Set(RawImageOf(imageFile));
    LoadStatusText.Set(text);
    return exitCode;
  };
}

std::unique_ptr<TKestruneUiForm> MakeForm(std::function<int()> loader, QStringList arguments,
                                          std::function<bool(const QString &)> askToClose) {
  FormEnvironment environment;
  // Tests close the window while channels run unless they ask otherwise.
  environment.AskToClose =
      askToClose ? std::move(askToClose) : [](const QString &) { return true; };
  environment.TellAtClose = [](const QString &) {};
  environment.Arguments = std::move(arguments);
  environment.ProgramPath = "/opt/kestrune/bin/kestrune";
  environment.LoaderRoutine = std::move(loader);
  return std::make_unique<TKestruneUiForm>(std::move(environment));
}

QString StatusText(QWidget *form, int channel) {
  return Control<QStatusBar>(form, ChannelControlName(channel, "StatusBar"))->currentMessage();
}

QString ChannelControlName(int channel, const char *kind) {
  return QString::fromStdString(ControlName(ChannelRows[channel], kind));
}

std::unique_ptr<QTimer> OnNextModal(std::function<void(QWidget *)> fn) {
  auto timer = std::make_unique<QTimer>();
  QTimer *raw = timer.get();
  QObject::connect(raw, &QTimer::timeout, [raw, fn] {
    if (QWidget *modal = QApplication::activeModalWidget()) {
      raw->stop();
      fn(modal);
    }
  });
  raw->start(5);
  return timer;
}

bool WaitForLoad(TKestruneUiForm &form, int timeoutMs) {
  return QTest::qWaitFor([&] { return !form.ImageLoadRunning(); }, timeoutMs) &&
         QTest::qWaitFor([&] { return form.findChild<QTimer *>("CommTimer")->isActive() == false; },
                         timeoutMs);
}

} // namespace kestrune::uitest
