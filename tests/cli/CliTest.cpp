// kestrune-cli as a program: arguments, exit status, output lines, the
// summary file and SIGINT, against virtual handsets.
#include "handset/VirtualHandset.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
  void Signal(int signal) { kill(Pid, signal); }
  Result Wait() {
    Result r;
    std::thread errReader([&] { r.Err = Drain(ErrFd); });
    r.Out = Drain(OutFd);
    errReader.join();
    int status = 0;
    waitpid(Pid, &status, 0);
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
};

bool HasLine(const std::string &text, const std::string &line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line)
      return true;
  return false;
}

struct TempImage {
  fs::path Path;
  explicit TempImage(size_t size) {
    Path = fs::temp_directory_path() / ("kestrune-cli-" + std::to_string(getpid()) + ".bin");
    std::ofstream out(Path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
      out.put(char(i * 7));
  }
  ~TempImage() { fs::remove(Path); }
};

TEST(Cli, UsageErrorsExitWithTwoAndOpenNothing) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  const std::string port = handset.DevicePath();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"--speed", "230K", port}, {}, {"--image", "/nonexistent.mot", port},
        {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, {"--bogus", port}}) {
    Result r = Cli(args).Wait();
    EXPECT_EQ(r.Exit, 2) << r.Err;
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    EXPECT_NE(r.Err.find("kestrune-cli: "), std::string::npos);
  }
  EXPECT_EQ(handset.CompletedRuns(), 0);
  EXPECT_TRUE(handset.InBootRom());
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

TEST(Cli, InterruptStopsEveryChannel) {
  TempImage image(1000);
  HandsetOptions late;
  late.PowerOnDelayMs = 60000; // never answers within the test
  VirtualHandset first(late), second(late);
  ASSERT_TRUE(first.StartOnPty() && second.StartOnPty());
  Cli cli({"--image", image.Path.string(), first.DevicePath(), second.DevicePath()});
  std::this_thread::sleep_for(milliseconds(500));
  auto signalled = steady_clock::now();
  cli.Signal(SIGINT);
  Result r = cli.Wait();
  EXPECT_LT(steady_clock::now() - signalled, seconds(2));
  EXPECT_EQ(r.Exit, 1);
  EXPECT_TRUE(HasLine(r.Out, "1: COMM Closed"));
  EXPECT_TRUE(HasLine(r.Out, "2: COMM Closed   His Smile"));
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
