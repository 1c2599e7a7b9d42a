// kestrune-cli's station options: --watchdog, --resend-limit and
// --ram-program, run as a program against virtual handsets.
#include "engine/RamProgram.h"
#include "handset/VirtualHandset.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
using kestrune::handset::Phase;
using kestrune::handset::VirtualHandset;

namespace {

struct Result {
  int Exit = -1;
  std::string Out, Err;
};

// Runs the program to its end with its output in files of a directory.
class Station : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-cli-station-XXXXXX";
    Directory = ::mkdtemp(pattern);
    Image = Write("image.bin", std::vector<uint8_t>(3 * 32768 + 5, 0x5A));
  }
  void TearDown() override { fs::remove_all(Directory); }

  fs::path Write(const std::string &name, const std::vector<uint8_t> &bytes) {
    fs::path path = Directory / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }

  Result Run(std::vector<std::string> args) {
    const fs::path out = Directory / "out", err = Directory / "err";
    pid_t pid = fork();
    if (pid == 0) {
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
        _exit(126);
      std::vector<char *> argv{const_cast<char *>(KESTRUNE_CLI)};
      for (auto &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KESTRUNE_CLI, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.Out = Read(out);
    r.Err = Read(err);
    return r;
  }

  static std::string Read(const fs::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static bool HasLine(const std::string &text, const std::string &line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
      if (l == line)
        return true;
    return false;
  }
  static bool HostOpenedTheLine(const VirtualHandset &handset) {
    for (const std::string &line : handset.Trace())
      if (line.find("host opened the line") != std::string::npos)
        return true;
    return false;
  }

  fs::path Directory, Image;
};

TEST_F(Station, ARamProgramFileOfAnyOtherLengthIsRefusedBeforeAnyPortOpens) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  std::vector<uint8_t> own(kestrune::RamProgram.begin(), kestrune::RamProgram.end());
  for (size_t size : {own.size() - 1, own.size() + 1}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes = own;
    bytes.resize(size, 0xFF);
    fs::path file = Write("loader.bin", bytes);
    Result r = Run({"--ram-program", file.string(), "--image", Image.string(),
                    handset.DevicePath()});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    EXPECT_NE(r.Err.find("kestrune-cli: RAM program file '" + file.string() + "' is " +
                         std::to_string(size) + " bytes; a RAM program is exactly 5888 bytes"),
              std::string::npos)
        << r.Err;
  }
  Result missing = Run({"--ram-program", (Directory / "none").string(), "--image",
                        Image.string(), handset.DevicePath()});
  EXPECT_EQ(missing.Exit, 2);
  EXPECT_NE(missing.Err.find("cannot open RAM program file"), std::string::npos) << missing.Err;
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_FALSE(HostOpenedTheLine(handset));
  EXPECT_TRUE(handset.Runs().empty());
}

TEST_F(Station, TheProjectsOwnRamProgramFromAFileFlashesTheHandset) {
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  fs::path file =
      Write("own.bin", std::vector<uint8_t>(kestrune::RamProgram.begin(), kestrune::RamProgram.end()));
  Result r = Run({"--ram-program", file.string(), "--image", Image.string(), handset.DevicePath()});
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "1: 다운로드 완료 !!!!!!!!!!!!!!!!!")) << r.Out;
  EXPECT_EQ(handset.CompletedRuns(), 1);
}

TEST_F(Station, TheWatchdogAndTheResendLimitFailTheirChannels) {
  HandsetOptions silent;
  silent.SilentAfter = Phase::Blocks;
  HandsetOptions refusing;
  refusing.NakBlock = 2;
  refusing.NakTimes = 3;
  VirtualHandset first(silent), second(refusing);
  ASSERT_TRUE(first.StartOnPty() && second.StartOnPty());
  const auto started = steady_clock::now();
  Result r = Run({"--watchdog", "1", "--resend-limit", "2", "--image", Image.string(),
                  first.DevicePath(), second.DevicePath()});
  EXPECT_LT(steady_clock::now() - started, seconds(20));
  EXPECT_EQ(r.Exit, 1);
  EXPECT_TRUE(HasLine(r.Out, "1: ERROR Handset stopped answering: answer to block 1 (" +
                                 std::to_string(ETIMEDOUT) + ")"))
      << r.Out;
  EXPECT_TRUE(HasLine(r.Out, "2: ERROR Handset refused block 2 after 2 re-sends (0)")) << r.Out;
}

TEST_F(Station, LimitsOutOfRangeAreUsageErrors) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"--watchdog", "-1"}, {"--watchdog", "3601"},
        {"--watchdog", "ten"}, {"--resend-limit", "-2"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--image", Image.string(), "/dev/kestrune-none"});
    Result r = Run(all);
    EXPECT_EQ(r.Exit, 2);
    EXPECT_NE(r.Err.find(args[0]), std::string::npos) << r.Err;
  }
}

} // namespace
