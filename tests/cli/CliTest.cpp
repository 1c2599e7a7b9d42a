// kestrune-cli as a program: arguments, exit status, output lines, the
// summary file and SIGINT, against virtual handsets.
#include "handset/VirtualHandset.h"
#include "platform/ErrorMeaning.h"
#include "tests/support/FreezingHandset.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;
using kestrune::handset::HandsetOptions;
using kestrune::handset::VirtualHandset;

namespace {

bool HasLine(const std::string &text, const std::string &line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line)
      return true;
  return false;
}

struct Result {
  int Exit = -1;
  std::string Out, Err;
};

class Cli {
public:
  explicit Cli(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
      throw std::runtime_error("pipe");
    Pid = fork();
    if (Pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      std::vector<char *> argv{const_cast<char *>(KESTRUNE_CLI)};
      for (auto &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KESTRUNE_CLI, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    OutFd = out[0];
    ErrFd = err[0];
  }
  Cli(const Cli &) = delete;
  Cli &operator=(const Cli &) = delete;
  // A test that gave up on the program leaves no process behind.
  ~Cli() {
    if (Waited)
      return;
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
    if (OutFd >= 0)
      close(OutFd);
    close(ErrFd);
  }
  void Signal(int signal) { kill(Pid, signal); }
  // As `kestrune-cli ... | head` does once it has read its lines.
  void CloseOutput() {
    close(OutFd);
    OutFd = -1;
  }
  // Reads the output until the line has come; false at the time-out.
  bool WaitForLine(const std::string &line, milliseconds timeout) {
    auto deadline = steady_clock::now() + timeout;
    while (!HasLine(Early, line)) {
      auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      pollfd ready{OutFd, POLLIN, 0};
      if (left <= 0 || poll(&ready, 1, int(left)) <= 0)
        return false;
      char buffer[4096];
      ssize_t n = read(OutFd, buffer, sizeof buffer);
      if (n <= 0)
        return false;
      Early.append(buffer, size_t(n));
    }
    return true;
  }
  Result Wait() {
    Result r;
    std::thread errReader([&] { r.Err = Drain(ErrFd); });
    if (OutFd >= 0)
      r.Out = Early + Drain(OutFd);
    errReader.join();
    int status = 0;
    waitpid(Pid, &status, 0);
    Waited = true;
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return r;
  }

private:
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, size_t(n));
    close(fd);
    return text;
  }
  pid_t Pid;
  int OutFd, ErrFd;
  std::string Early; // output read before Wait
  bool Waited = false;
};

bool HostOpenedTheLine(const VirtualHandset &handset) {
  for (const std::string &line : handset.Trace())
    if (line.find("host opened the line") != std::string::npos)
      return true;
  return false;
}

struct TempImage {
  fs::path Path;
  explicit TempImage(size_t size, const std::string &name = "kestrune-cli-") {
    Path = fs::temp_directory_path() / (name + std::to_string(getpid()) + ".bin");
    std::ofstream out(Path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
      out.put(char(i * 7));
  }
  ~TempImage() { fs::remove(Path); }
};

TEST(Cli, UsageErrorsExitWithTwoAndOpenNothing) {
  TempImage image(1000);
  const std::string file = image.Path.string();
  const std::string summary =
      (fs::temp_directory_path() / ("kestrune-no-summary-" + std::to_string(getpid()))).string();
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  const std::string port = handset.DevicePath();
  struct Case {
    std::vector<std::string> Args;
    std::string Says; // part of the error text
  };
  std::vector<std::string> tooMany;
  for (int i = 1; i <= 65; ++i)
    tooMany.push_back("/dev/kestrune-" + std::to_string(i));
  const std::vector<Case> cases = {
      {{"--speed", "230K", "--image", file, port}, "unknown speed"},
      {{}, "no port given"},
      {{port}, "no image given"},
      {{"--image", "/nonexistent.mot", port}, "cannot read image"},
      {tooMany, "at most 64 ports"},
      {{"--image", file, "--swap-silence", "2", port}, "--swap-silence needs --repeat"},
      {{"--image", file, "--repeat", "-1", port}, "--repeat"},
      {{"--image", file, "--repeat", "2", "--swap-silence", "0", port}, "--swap-silence"},
      {{"--json", "convert", file}, "convert takes a file only, not --json"},
      {{"--bogus", port}, "bogus"},
      {{"--image", file, port, "/dev/kestrune-other", port}, "named twice (channels 1 and 3)"},
      {{"--image", file, "--summary", "/nonexistent-dir/summary.tsv", port},
       "cannot write summary"},
      {{"--speed", "460K", "convert", file}, "convert takes a file only, not --speed"},
      {{"--image", file, "convert", file}, "convert takes a file only, not --image"},
      {{"--summary", summary, "convert", file}, "convert takes a file only"},
      {{"--verbose", "convert", file}, "convert takes a file only"},
      {{port, "convert", file}, "convert takes a file only, not ports"},
  };
  for (const Case &c : cases) {
    std::string command;
    for (const std::string &a : c.Args)
      command += a + " ";
    SCOPED_TRACE(command);
    Result r = Cli(c.Args).Wait();
    EXPECT_EQ(r.Exit, 2) << r.Err;
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    EXPECT_NE(r.Err.find("kestrune-cli: "), std::string::npos);
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
  }
  // Long enough for a boot call to have been seen.
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_FALSE(HostOpenedTheLine(handset));
  EXPECT_TRUE(handset.Runs().empty());
  EXPECT_TRUE(handset.InBootRom());
  EXPECT_FALSE(fs::exists(summary));
}

TEST(Cli, TwoPathsToOnePortAreNamedTwice) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  TempImage image(1000);
  fs::path link = fs::temp_directory_path() / ("kestrune-port-link-" + std::to_string(getpid()));
  fs::create_symlink(handset.DevicePath(), link);
  Result r = Cli({"--image", image.Path.string(), link.string(), handset.DevicePath()}).Wait();
  fs::remove(link);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("named twice"), std::string::npos) << r.Err;
  EXPECT_FALSE(HostOpenedTheLine(handset));
}

TEST(Cli, ClosedOutputDoesNotEndTheRuns) {
  TempImage image(70000);
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  fs::path summary = fs::temp_directory_path() / ("kestrune-pipe-" + std::to_string(getpid()));
  Cli cli({"--image", image.Path.string(), "--summary", summary.string(), handset.DevicePath()});
  cli.CloseOutput();
  Result r = cli.Wait();
  EXPECT_EQ(r.Exit, 0) << r.Err; // not killed by SIGPIPE (1000 + 13)
  std::ifstream in(summary);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("1\t" + handset.DevicePath() + "\tcompleted\t", 0), 0u) << line;
  EXPECT_EQ(handset.CompletedRuns(), 1);
  fs::remove(summary);
}

TEST(Cli, TwoChannelsCompleteOneMissingPortFails) {
  TempImage image(70000);
  VirtualHandset first, second;
  ASSERT_TRUE(first.StartOnPty() && second.StartOnPty());
  fs::path summary = fs::temp_directory_path() / ("kestrune-summary-" + std::to_string(getpid()));
  Result r = Cli({"--speed", "460K", "--verbose", "--image", image.Path.string(), "--summary",
                  summary.string(), first.DevicePath(), second.DevicePath()})
                 .Wait();
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "1: 다운로드 완료 !!!!!!!!!!!!!!!!!"));
  EXPECT_TRUE(HasLine(r.Out, "2: 다운로드 완료 !!!!!!!!!!!!!!!!!"));
  EXPECT_TRUE(HasLine(r.Out, "2: Port set to 460800 baud"));
  EXPECT_TRUE(HasLine(r.Out, "1: [busy]"));
  EXPECT_TRUE(HasLine(r.Out, "2: [done]"));
  EXPECT_TRUE(HasLine(r.Out, "BIN 파일 , 시작 0x000000, 종료 0x011170"));
  std::ifstream in(summary);
  std::string line1, line2;
  std::getline(in, line1);
  std::getline(in, line2);
  EXPECT_EQ(line1.rfind("1\t" + first.DevicePath() + "\tcompleted\t", 0), 0u) << line1;
  EXPECT_EQ(line2.rfind("2\t" + second.DevicePath() + "\tcompleted\t", 0), 0u) << line2;
  fs::remove(summary);

  r = Cli({"--image", image.Path.string(), first.DevicePath(), "/dev/kestrune-missing"}).Wait();
  EXPECT_EQ(r.Exit, 1);
  EXPECT_TRUE(HasLine(r.Out, "1: 다운로드 완료 !!!!!!!!!!!!!!!!!"));
  EXPECT_TRUE(HasLine(r.Out, "2: ERROR 해당 COMM port 를 열 수 없습니다. (2)"));
  EXPECT_FALSE(HasLine(r.Out, "1: [busy]")); // colours only with --verbose
}

TEST(Cli, FailedLoadStartsNoChannel) {
  fs::path empty = fs::temp_directory_path() / ("kestrune-empty-" + std::to_string(getpid()) + ".mot");
  std::ofstream(empty) << "S0030000FC\r\n";
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  Result r = Cli({"--image", empty.string(), handset.DevicePath()}).Wait();
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out.find("1: "), std::string::npos) << r.Out;
  EXPECT_EQ(handset.CompletedRuns(), 0);
  fs::remove(empty);
  fs::remove(fs::path(empty).replace_extension(".bif"));
}

TEST(Cli, FirstFailureIsTheChannelsLastLineAndSummary) {
  // The cable is pulled right after the identification request: the read
  // fails, and the handshake still writes its remaining messages.
  TempImage image(1000);
  HandsetOptions pulled;
  pulled.DisconnectAfterBytes = 13 + 5888 + 6 + 2;
  VirtualHandset handset(pulled);
  ASSERT_TRUE(handset.StartOnPty());
  fs::path summary = fs::temp_directory_path() / ("kestrune-summary-" + std::to_string(getpid()));
  Result r = Cli({"--image", image.Path.string(), "--summary", summary.string(),
                  handset.DevicePath()})
                 .Wait();
  EXPECT_EQ(r.Exit, 1);
  // The last status text, followed only by the line with its code's meaning.
  const size_t meaning = r.Out.rfind("1: (");
  ASSERT_NE(meaning, std::string::npos) << r.Out;
  const size_t last = r.Out.rfind("1: ", meaning - 1);
  ASSERT_NE(last, std::string::npos) << r.Out;
  const std::string failure = r.Out.substr(last + 3, r.Out.find('\n', last) - last - 3);
  EXPECT_EQ(failure.rfind("ERROR Could not read from COMM port (", 0), 0u) << r.Out;
  ASSERT_TRUE(kestrune::StatusErrorCode(failure).has_value()) << failure;
  EXPECT_EQ(r.Out.substr(meaning), "1: " + kestrune::SystemErrorMeaning(*kestrune::StatusErrorCode(failure)) + "\n")
      << r.Out;
  EXPECT_FALSE(HasLine(r.Out, "1: Waiting for ACK of flash type")) << r.Out;
  std::ifstream in(summary);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("1\t" + handset.DevicePath() + "\tfailed\t", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.rfind('\t') + 1), failure);
  fs::remove(summary);
}

TEST(Cli, InterruptEndsARunWhoseWriteTheHandsetNeverReads) {
  TempImage image(3 * 32768);
  kestrune::test::FreezingHandset handset;
  Cli cli({"--image", image.Path.string(), handset.DevicePath()});
  for (int i = 0; i < 3000 && !handset.Frozen(); ++i)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_TRUE(handset.Frozen());
  std::this_thread::sleep_for(milliseconds(300)); // block 1 fills the line
  auto signalled = steady_clock::now();
  cli.Signal(SIGINT);
  Result r = cli.Wait();
  EXPECT_LT(steady_clock::now() - signalled, seconds(1));
  EXPECT_EQ(r.Exit, 1);
  EXPECT_TRUE(HasLine(r.Out, "1: Sending block 1 of 3")) << r.Out;
  EXPECT_TRUE(HasLine(r.Out, "1: COMM Closed")) << r.Out;
}

TEST(Cli, InterruptTerminateAndHangUpStopEveryChannel) {
  TempImage image(1000);
  HandsetOptions late;
  late.PowerOnDelayMs = 60000; // never answers within the test
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    VirtualHandset first(late), second(late);
    ASSERT_TRUE(first.StartOnPty() && second.StartOnPty());
    Cli cli({"--image", image.Path.string(), first.DevicePath(), second.DevicePath()});
    // Both channels call their boot ROM: the signal handling is in place.
    ASSERT_TRUE(cli.WaitForLine("1: 전원 On/Reset Mobile", seconds(20)));
    ASSERT_TRUE(cli.WaitForLine("2: 전원 On/Reset Mobile", seconds(20)));
    auto signalled = steady_clock::now();
    cli.Signal(signal);
    Result r = cli.Wait();
    EXPECT_LT(steady_clock::now() - signalled, seconds(2));
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(HasLine(r.Out, "1: COMM Closed"));
    EXPECT_TRUE(HasLine(r.Out, "2: COMM Closed   His Smile"));
  }
}

} // namespace

namespace {

TEST(Cli, AFinalTableGivesEachChannelsOutcomeBytesAndTime) {
  TempImage image(70000);
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  Result r = Cli({"--image", image.Path.string(), handset.DevicePath(), "/dev/kestrune-missing"}).Wait();
  EXPECT_EQ(r.Exit, 1);
  // Piped: the status texts stay one line each on the output, the table
  // goes with the other human-only text to the error stream.
  EXPECT_TRUE(HasLine(r.Out, "1: 다운로드 완료 !!!!!!!!!!!!!!!!!"));
  EXPECT_EQ(r.Out.find("outcome"), std::string::npos);
  std::istringstream err(r.Err);
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(err, line))
    rows.push_back(line);
  ASSERT_GE(rows.size(), 3u) << r.Err;
  const std::string &header = rows[rows.size() - 3];
  EXPECT_EQ(header.rfind("ch  port", 0), 0u) << header;
  std::istringstream first(rows[rows.size() - 2]);
  std::string channel, port, outcome;
  uint64_t bytes = 0;
  double seconds = 0, rate = 0;
  first >> channel >> port >> outcome >> bytes >> seconds >> rate;
  EXPECT_EQ(channel, "1");
  EXPECT_EQ(port, handset.DevicePath());
  EXPECT_EQ(outcome, "passed");
  EXPECT_EQ(bytes, 70000u);
  EXPECT_GT(seconds, 0.0);
  EXPECT_NEAR(rate, double(bytes) / 1024.0 / seconds, 0.1 + rate * 0.05);
  EXPECT_NE(rows.back().find("/dev/kestrune-missing failed"), std::string::npos) << rows.back();
  EXPECT_NE(rows.back().find("ERROR 해당 COMM port 를 열 수 없습니다. (2)"), std::string::npos);
}

} // namespace
