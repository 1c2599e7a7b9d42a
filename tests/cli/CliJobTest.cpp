// kestrune-cli with a production job: keygen, sign and verify, and --job
// refusing a job before any port opens, run as a program against virtual
// handsets.
#include "engine/RamProgram.h"
#include "handset/VirtualHandset.h"
#include "image/ImageDigest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
using kestrune::handset::VirtualHandset;
using nlohmann::json;

namespace {

struct Result {
  int Exit = -1;
  std::string Out, Err;
};

std::string DigestOf(const std::vector<uint8_t> &bytes) {
  return kestrune::Sha256Hex(bytes.data(), bytes.size());
}

class Jobs : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrune-cli-job-XXXXXX";
    Directory = ::mkdtemp(pattern);
    fs::create_directory(Directory / "trusted");
    ImageBytes.assign(2 * 32768 + 17, 0x3C);
    Write("image.bin", ImageBytes);
    ASSERT_EQ(Run({"job", "keygen", Path("key.pem"), Path("trusted/line.pem")}).Exit, 0);
    Document = {{"name", "fw-line-a"},
                {"version", "1"},
                {"image", {{"path", "image.bin"}, {"sha256", DigestOf(ImageBytes)}}},
                {"speed", "920K"},
                {"records", "none"}};
  }
  void TearDown() override { fs::remove_all(Directory); }

  std::string Path(const std::string &name) const { return (Directory / name).string(); }
  void Write(const std::string &name, const std::vector<uint8_t> &bytes) {
    std::ofstream out(Directory / name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  }
  // Writes the job and signs it with the trusted key.
  std::string SignedJob() {
    std::ofstream(Directory / "job.json") << Document.dump();
    Result signing = Run({"job", "sign", "--key", Path("key.pem"), Path("job.json")});
    EXPECT_EQ(signing.Exit, 0) << signing.Err;
    return Path("job.json");
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
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  static bool Untouched(const VirtualHandset &handset) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const std::string &line : handset.Trace())
      if (line.find("host opened the line") != std::string::npos)
        return false;
    return handset.Runs().empty();
  }
  // Runs the job against a fresh handset, expecting a refusal with the text.
  void ExpectRefused(const std::string &job, const std::string &text,
                     std::vector<std::string> more = {}) {
    VirtualHandset handset;
    ASSERT_TRUE(handset.StartOnPty());
    std::vector<std::string> args{"--job", job, "--trusted-keys", Path("trusted")};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(handset.DevicePath());
    Result r = Run(args);
    EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
    EXPECT_NE(r.Err.find(text), std::string::npos) << r.Err;
    EXPECT_TRUE(Untouched(handset));
  }

  fs::path Directory;
  std::vector<uint8_t> ImageBytes;
  json Document;
};

TEST_F(Jobs, ASignedJobFlashesItsImage) {
  const std::string job = SignedJob();
  Result verify = Run({"job", "verify", "--trusted-keys", Path("trusted"), job});
  EXPECT_EQ(verify.Exit, 0) << verify.Err;
  EXPECT_NE(verify.Out.find("job fw-line-a 1 is signed by trusted key"), std::string::npos);
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  Result r = Run({"--job", job, "--trusted-keys", Path("trusted"), handset.DevicePath()});
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_EQ(handset.CompletedRuns(), 1);
}

TEST_F(Jobs, AJobWhoseSignatureDoesNotHoldIsRefused) {
  const std::string job = SignedJob();
  std::string text = Read(job);
  text.replace(text.find("920K"), 4, "115K");
  std::ofstream(job) << text;
  ExpectRefused(job, "its signature does not match its content");
  Result verify = Run({"job", "verify", "--trusted-keys", Path("trusted"), job});
  EXPECT_EQ(verify.Exit, 1);

  std::ofstream(job) << Document.dump();
  ExpectRefused(job, "job fw-line-a 1 is not signed (unsigned jobs are allowed only with "
                     "--allow-unsigned-jobs)");
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  Result allowed = Run({"--job", job, "--allow-unsigned-jobs", "--trusted-keys", Path("trusted"),
                        handset.DevicePath()});
  EXPECT_EQ(allowed.Exit, 0) << allowed.Err;
  EXPECT_EQ(handset.CompletedRuns(), 1);

  // Signed by a key that is not in the trusted folder.
  ASSERT_EQ(Run({"job", "keygen", Path("stranger.pem"), Path("stranger-public.pem")}).Exit, 0);
  ASSERT_EQ(Run({"job", "sign", "--key", Path("stranger.pem"), job}).Exit, 0);
  ExpectRefused(job, "which this station does not trust");
}

TEST_F(Jobs, AWrongOrReplacedImageAndAWrongRamProgramAreRefused) {
  std::string job = SignedJob();
  std::vector<uint8_t> replaced = ImageBytes;
  replaced[40000] ^= 1;
  Write("image.bin", replaced);
  ExpectRefused(job, "job fw-line-a 1 refused: image '" + Path("image.bin") + "' has SHA-256 " +
                         DigestOf(replaced) + ", the job pins " + DigestOf(ImageBytes));
  Write("image.bin", ImageBytes);

  std::vector<uint8_t> own(kestrune::RamProgram.begin(), kestrune::RamProgram.end());
  Write("loader.bin", own);
  Document["ram_program"] = {{"path", "loader.bin"}, {"sha256", std::string(64, 'f')}};
  job = SignedJob();
  ExpectRefused(job, "refused: RAM program '" + Path("loader.bin") + "' has SHA-256 " +
                         DigestOf(own) + ", the job pins " + std::string(64, 'f'));
  Document["ram_program"]["sha256"] = DigestOf(own);
  job = SignedJob();
  VirtualHandset handset;
  ASSERT_TRUE(handset.StartOnPty());
  Result r = Run({"--job", job, "--trusted-keys", Path("trusted"), handset.DevicePath()});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(handset.CompletedRuns(), 1);
}

TEST_F(Jobs, OptionsTheJobPinsAreUsageErrors) {
  const std::string job = SignedJob();
  for (const std::vector<std::string> &given :
       {std::vector<std::string>{"--image", Path("image.bin")}, {"--speed", "115K"},
        {"--watchdog", "3"}, {"--resend-limit", "1"}, {"--repeat", "2"},
        {"--records", "none"}}) {
    SCOPED_TRACE(given[0]);
    std::vector<std::string> args{"--job", job, "--trusted-keys", Path("trusted")};
    args.insert(args.end(), given.begin(), given.end());
    args.push_back("/dev/kestrune-none");
    Result r = Run(args);
    EXPECT_EQ(r.Exit, 2);
    EXPECT_NE(r.Err.find("the job pins " + given[0] + "; it cannot be given with --job"),
              std::string::npos)
        << r.Err;
  }
  Result unknown = Run({"--job", Path("none.json"), "/dev/kestrune-none"});
  EXPECT_EQ(unknown.Exit, 2);
  EXPECT_NE(unknown.Err.find("cannot open job file"), std::string::npos);
  Result lone = Run({"--trusted-keys", Path("trusted"), "--image", Path("image.bin"),
                     "/dev/kestrune-none"});
  EXPECT_EQ(lone.Exit, 2);
}

} // namespace
