// kestrune-handset as a program: its command line, and one run over the
// pseudo-terminal it prints, with --once and --flash-out.
#include "tests/handset/ScriptedHost.h"

#include "handset/CommandLine.h"
#include "handset/NorFlash.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char **environ;

namespace kestrune::handset::test {
namespace {

int Parse(std::vector<const char *> args, CommandLine &line) {
  args.insert(args.begin(), "kestrune-handset");
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  int code = ParseCommandLine(int(args.size()), args.data(), line);
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return code;
}

TEST(HandsetCommandLine, EveryOptionReachesTheHandset) {
  CommandLine line;
  ASSERT_EQ(Parse({"--pty", "--power-on-delay", "250", "--noise", "--silent-after", "map",
                   "--map-answer", "0x07", "--unsupported-flash", "--nak-block", "3:2",
                   "--erase-fail", "5", "--program-error", "0x10000:4", "--disconnect-after",
                   "99", "--realistic-timing", "--program-us", "20", "--realtime", "--trace",
                   "--once", "--flash-out", "/tmp/x", "--idle-reset", "0"},
                  line),
            -1);
  const HandsetOptions &o = line.Options;
  EXPECT_TRUE(line.UsePty);
  EXPECT_EQ(o.PowerOnDelayMs, 250u);
  EXPECT_TRUE(o.Noise);
  EXPECT_EQ(o.SilentAfter, Phase::Map);
  EXPECT_EQ(o.MapAnswer, 0x07);
  EXPECT_TRUE(o.UnsupportedFlash);
  EXPECT_EQ(o.NakBlock, 3u);
  EXPECT_EQ(o.NakTimes, 2u);
  EXPECT_EQ(o.EraseFailSegment, 5u);
  EXPECT_TRUE(o.ProgramError);
  EXPECT_EQ(o.ProgramErrorAddress, 0x10000u);
  EXPECT_EQ(o.ProgramErrorCount, 4u);
  EXPECT_EQ(o.DisconnectAfterBytes, 99u);
  EXPECT_EQ(o.Timing.LargeEraseUs, 700000u);
  EXPECT_EQ(o.Timing.WordProgramUs, 20u) << "an explicit time wins over the realistic set";
  EXPECT_TRUE(o.Realtime);
  EXPECT_TRUE(o.TraceToStderr);
  EXPECT_TRUE(o.Once);
  EXPECT_EQ(o.FlashOutPath, "/tmp/x");
  EXPECT_EQ(o.IdleResetMs, 0u);
}

TEST(HandsetCommandLine, DefaultsAndMistakes) {
  CommandLine line;
  ASSERT_EQ(Parse({"--device", "/dev/null", "--program-error", "--nak-block", "2"}, line), -1);
  EXPECT_EQ(line.DevicePath, "/dev/null");
  EXPECT_TRUE(line.Options.ProgramError);
  EXPECT_EQ(line.Options.ProgramErrorAddress, 0u);
  EXPECT_EQ(line.Options.ProgramErrorCount, 1u);
  EXPECT_EQ(line.Options.NakTimes, 1u);
  EXPECT_FALSE(line.Options.IdleResetMs.has_value()) << "left to the line kind";

  for (std::vector<const char *> wrong :
       {std::vector<const char *>{}, {"--pty", "--device", "/dev/null"},
        {"--pty", "--silent-after", "lunch"}, {"--pty", "--erase-fail", "132"},
        {"--pty", "--map-answer", "256"}, {"--pty", "--nak-block", "0"},
        {"--pty", "--program-error", "x:1"}}) {
    CommandLine bad;
    EXPECT_EQ(Parse(wrong, bad), 2) << (wrong.size() > 1 ? wrong[1] : "no arguments");
  }
  CommandLine unknown;
  EXPECT_EQ(Parse({"--pty", "--no-such-option"}, unknown), 2);
  CommandLine help;
  EXPECT_EQ(Parse({"--help"}, help), 0);
}

// Starts the program with its stdout on a pipe and stderr in a file.
struct Child {
  pid_t Pid = -1;
  int Out = -1;

  Child(const std::vector<std::string> &args, const std::string &errorFile) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Out = pipeFds[0];
  }
  ~Child() {
    if (Pid > 0 && ::waitpid(Pid, nullptr, WNOHANG) == 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    if (Out >= 0)
      ::close(Out);
  }
  std::string FirstLine(Millis timeout) {
    std::string line;
    pollfd p{Out, POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, int(timeout.count())) > 0 && ::read(Out, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  // The exit code, or -1 if it is still running after the time-out.
  int WaitExit(Millis timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      pid_t done = ::waitpid(Pid, &status, WNOHANG);
      if (done == Pid) {
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(Millis(20));
    }
    return -1;
  }
};

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HandsetProgram, OneRunWithOnceWritesTheFlashAndExits) {
  std::string dir = ::testing::TempDir();
  std::string tag = std::to_string(::getpid());
  std::string flashFile = dir + "handset-flash-" + tag + ".bin";
  std::string errorFile = dir + "handset-stderr-" + tag + ".txt";
  ::unlink(flashFile.c_str());
  Child child({KESTRUNE_HANDSET_PROGRAM, "--pty", "--once", "--trace", "--flash-out", flashFile},
              errorFile);
  ASSERT_GT(child.Pid, 0);
  std::string path = child.FirstLine(Millis(5000));
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << "first line: " << path;

  Bytes image = Image(40000);
  {
    ScriptedHost host(path);
    ASSERT_TRUE(host.Call(Millis(2000)));
    ASSERT_TRUE(host.LoadRamProgram());
    host.SetSpeed(0x01, 460800);
    ExpectSpacedIdentification(host.Identify());
    ASSERT_EQ(host.SendMap(), 0x01);
    ASSERT_EQ(host.FlashType(), 0x21);
    ScriptedHost::Outcome outcome = host.Program(image);
    ASSERT_EQ(outcome.Verdict, 0x21) << outcome.Stall;
    // The dump is complete before the verdict goes out.
    std::string dump = ReadFile(flashFile);
    ASSERT_EQ(dump.size(), size_t(NorFlash::Size));
    EXPECT_EQ(std::memcmp(image.data(), dump.data(), image.size()), 0);
    EXPECT_EQ(uint8_t(dump[image.size()]), 0xFF);
  }
  EXPECT_EQ(child.WaitExit(Millis(5000)), 0) << "--once ends with the host's close";
  std::string trace = ReadFile(errorFile);
  for (const char *message : {"got E", "got speed message", "got block 2", "verdict: complete"})
    EXPECT_NE(trace.find(message), std::string::npos) << message << " missing from:\n" << trace;
  ::unlink(flashFile.c_str());
  ::unlink(errorFile.c_str());
}

TEST(HandsetProgram, StopsOnSigterm) {
  std::string errorFile = ::testing::TempDir() + "handset-term-" + std::to_string(::getpid()) + ".txt";
  Child child({KESTRUNE_HANDSET_PROGRAM, "--pty"}, errorFile);
  ASSERT_GT(child.Pid, 0);
  ASSERT_FALSE(child.FirstLine(Millis(5000)).empty());
  ::kill(child.Pid, SIGTERM);
  EXPECT_EQ(child.WaitExit(Millis(5000)), 0);
  ::unlink(errorFile.c_str());
}

} // namespace
} // namespace kestrune::handset::test
