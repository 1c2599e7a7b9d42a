// The station's disk fills up in the middle of a repeat run and is freed
// again: every run shown is on record, and both changes are said with the
// count of records waiting. The disk is a small tmpfs the test mounts.
#include "handset/VirtualHandset.h"
#include "tests/cli/CliProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;
using kestrune::handset::HandsetOptions;
using kestrune::handset::RamModel;
using kestrune::handset::VirtualHandset;

namespace {

struct SmallDisk {
  fs::path Dir = fs::temp_directory_path() / ("kestrune-full-" + std::to_string(getpid()));
  std::string Problem; // empty once mounted
  explicit SmallDisk(const std::string &size) {
    fs::create_directories(Dir / "disk");
    if (mount("tmpfs", (Dir / "disk").c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
      Problem = std::strerror(errno);
  }
  ~SmallDisk() {
    if (Problem.empty())
      umount2((Dir / "disk").c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
  fs::path Disk() const { return Dir / "disk"; }
};

std::string Read(const fs::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t CountOf(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Writes to path until the disk takes no more.
bool FillUp(const fs::path &path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  std::vector<char> chunk(4096, 'f');
  while (write(fd, chunk.data(), chunk.size()) > 0) {
  }
  const bool full = errno == ENOSPC;
  close(fd);
  return full;
}

pid_t Spawn(const std::vector<std::string> &args, const fs::path &out) {
  return kestrune::testing::StartCli(args, out.string());
}

// Waits until the output holds count of part; false after timeout.
bool WaitFor(const fs::path &out, const std::string &part, size_t count, seconds timeout) {
  for (auto until = steady_clock::now() + timeout; steady_clock::now() < until;) {
    if (CountOf(Read(out), part) >= count)
      return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

TEST(CliDiskFull, RecordsWrittenWhileTheDiskIsFullAreKeptAndWrittenOnceItIsFreed) {
  SmallDisk small("2m");
  if (!small.Problem.empty())
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Problem
                 << "); run as root or with CAP_SYS_ADMIN to fill a disk";
  const fs::path image = small.Dir / "image.bin";
  {
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < 40000; ++i)
      out.put(char(i * 7));
  }
  const std::string db = (small.Disk() / "records.sqlite").string();
  const fs::path out = small.Dir / "out.txt";
  constexpr int Runs = 8;
  VirtualHandset handset(HandsetOptions{.Model = RamModel::Host, .SwapAfterRunMs = 300});
  ASSERT_TRUE(handset.StartOnPty());
  pid_t pid = Spawn({"--json", "--repeat", std::to_string(Runs), "--swap-silence", "0.1",
                     "--records", db, "--station", "full", "--image", image.string(),
                     handset.DevicePath()},
                    out);
  const std::string outcome = "\"event\":\"outcome\"";
  ASSERT_TRUE(WaitFor(out, outcome, 1, seconds(30))) << Read(out);
  // Full: the next records cannot be written.
  ASSERT_TRUE(FillUp(small.Disk() / "filler"));
  EXPECT_TRUE(WaitFor(out, "records cannot be written to " + db, 1, seconds(30))) << Read(out);
  const size_t shownWhenFull = CountOf(Read(out), outcome);
  // Runs go on meanwhile and are shown.
  EXPECT_TRUE(WaitFor(out, outcome, shownWhenFull + 2, seconds(30))) << Read(out);
  fs::remove(small.Disk() / "filler");
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string text = Read(out);
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_EQ(CountOf(text, outcome), size_t(Runs)) << text;

  // Said once each way, with the counts.
  std::smatch failed, again;
  EXPECT_TRUE(std::regex_search(
      text, failed,
      std::regex("kestrune-cli: records cannot be written to [^:]+: [^\n]+; ([0-9]+) records? "
                 "waiting, kept and written again when it works\n")))
      << text;
  EXPECT_TRUE(std::regex_search(
      text, again, std::regex("kestrune-cli: records are written to [^\n]+ again; ([0-9]+) "
                              "records? still waiting\n")))
      << text;
  EXPECT_EQ(CountOf(text, "records cannot be written to "), 1u) << text;
  EXPECT_EQ(CountOf(text, " again; "), 1u) << text;
  if (!failed.empty()) {
    EXPECT_GE(std::stoi(failed[1]), 1);
  }
  EXPECT_EQ(CountOf(text, "kept in"), 0u) << "nothing went to the spill file: " << text;

  // No record lost, none twice.
  const fs::path list = small.Dir / "list.json";
  pid_t lister = Spawn({"records", "--records", db, "--format", "json"}, list);
  waitpid(lister, &status, 0);
  auto json = nlohmann::json::parse(Read(list));
  ASSERT_EQ(json["records"].size(), size_t(Runs)) << Read(list);
  std::vector<std::string> ids;
  for (const auto &r : json["records"])
    ids.push_back(r["id"]);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
}

} // namespace
