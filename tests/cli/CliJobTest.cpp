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

#include <algorithm>
#include <chrono>
#include <memory>
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

// Reads the first count bytes of a file.
std::vector<uint8_t> Head(const fs::path &path, size_t count) {
  std::vector<uint8_t> bytes(count);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(count));
  bytes.resize(size_t(in.gcount()));
  return bytes;
}

const char *const CounterScheme =
    R"({"fields":[{"name":"sn","offset":"0x1000","length":6,"encoding":"ascii",
                   "counter":{"start":500,"step":1,"last":999999}}]})";

TEST_F(Jobs, TheJobsSerialSchemeGivesEachUnitItsOwnValue) {
  Document["serial"] = json::parse(CounterScheme);
  Document["records"] = Path("station.sqlite");
  const std::string job = SignedJob();
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  for (int c = 1; c <= 2; ++c) {
    fs::create_directory(Directory / ("h" + std::to_string(c)));
    kestrune::handset::HandsetOptions options;
    options.Model = kestrune::handset::RamModel::Host;
    options.FlashDumpDir = Path("h" + std::to_string(c));
    handsets.push_back(std::make_unique<VirtualHandset>(options));
    ASSERT_TRUE(handsets.back()->StartOnPty());
  }
  Result r = Run({"--job", job, "--trusted-keys", Path("trusted"), "--json",
                  handsets[0]->DevicePath(), handsets[1]->DevicePath()});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  std::vector<std::string> values;
  for (int c = 1; c <= 2; ++c) {
    std::vector<uint8_t> flash = Head(Directory / ("h" + std::to_string(c)) / "run-1.bin",
                                      ImageBytes.size());
    ASSERT_EQ(flash.size(), ImageBytes.size());
    const std::string value(flash.begin() + 0x1000, flash.begin() + 0x1006);
    values.push_back(value);
    // Everything but the value is the image's.
    std::vector<uint8_t> expected = ImageBytes;
    std::copy(value.begin(), value.end(), expected.begin() + 0x1000);
    EXPECT_EQ(flash, expected) << "channel " << c;
  }
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::string>{"000500", "000501"}));

  // The next run goes on from the same ledger, as --serial does.
  fs::remove_all(Directory / "h1");
  fs::create_directory(Directory / "h1");
  kestrune::handset::HandsetOptions options;
  options.Model = kestrune::handset::RamModel::Host;
  options.FlashDumpDir = Path("h1");
  VirtualHandset again(options);
  ASSERT_TRUE(again.StartOnPty());
  ASSERT_EQ(Run({"--job", job, "--trusted-keys", Path("trusted"), again.DevicePath()}).Exit, 0);
  std::vector<uint8_t> flash = Head(Directory / "h1" / "run-1.bin", ImageBytes.size());
  ASSERT_GE(flash.size(), 0x1006u);
  EXPECT_EQ(std::string(flash.begin() + 0x1000, flash.begin() + 0x1006), "000502");

  Result both = Run({"--job", job, "--trusted-keys", Path("trusted"), "--serial",
                     Path("scheme.json"), "/dev/kestrune-none"});
  EXPECT_EQ(both.Exit, 2);
  EXPECT_NE(both.Err.find("the job pins --serial; it cannot be given with --job"),
            std::string::npos)
      << both.Err;
}

TEST_F(Jobs, ASchemeFileWhoseBytesDifferOrASchemeThatDoesNotFitIsRefused) {
  Document["records"] = Path("station.sqlite");
  std::ofstream(Directory / "scheme.json") << CounterScheme;
  const std::string own = Read(Directory / "scheme.json");
  Document["serial"] = {{"path", "scheme.json"}, {"sha256", std::string(64, '0')}};
  ExpectRefused(SignedJob(), "job fw-line-a 1 refused: serial scheme '" + Path("scheme.json") +
                                 "' has SHA-256 " +
                                 kestrune::Sha256Hex(
                                     reinterpret_cast<const uint8_t *>(own.data()), own.size()) +
                                 ", the job pins " + std::string(64, '0'));
  // A field past the image's end: the scheme's own check, before any port.
  json far = json::parse(CounterScheme);
  far["fields"][0]["offset"] = "0x20000";
  Document["serial"] = far;
  ExpectRefused(SignedJob(), "job fw-line-a 1 refused: ");
  Document["serial"] = {{"path", "scheme.json"}};
  std::ofstream(Directory / "job.json") << Document.dump();
  Result r = Run({"job", "verify", "--allow-unsigned-jobs", Path("job.json")});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("job member 'serial' needs a 'sha256'"), std::string::npos) << r.Err;
}

// A list of values is pinned like every other byte a job sends: without its
// digest, or with one its file does not have, the job is refused before any
// port opens; pinned, its values go into the units.
TEST_F(Jobs, AListFileWithoutItsDigestOrWithAnotherIsRefusedAndAPinnedOneIsUsed) {
  Document["records"] = Path("station.sqlite");
  const std::string values = "SN-0001\nSN-0002\n";
  Write("values.txt", std::vector<uint8_t>(values.begin(), values.end()));
  const std::string digest =
      kestrune::Sha256Hex(reinterpret_cast<const uint8_t *>(values.data()), values.size());
  json scheme = {{"fields",
                  {{{"name", "sn"},
                    {"offset", "0x1000"},
                    {"length", 7},
                    {"encoding", "ascii"},
                    {"list", "values.txt"}}}}};
  Document["serial"] = scheme;
  ExpectRefused(SignedJob(), "job fw-line-a 1 refused: serial field sn: list file " +
                                 Path("values.txt") + " has SHA-256 " + digest +
                                 ", and the job's scheme pins no digest for it");
  const std::string other(64, '7');
  scheme["fields"][0]["list"] = {{"path", "values.txt"}, {"sha256", other}};
  Document["serial"] = scheme;
  ExpectRefused(SignedJob(), "job fw-line-a 1 refused: Serial field sn: list file " +
                                 Path("values.txt") + " has SHA-256 " + digest +
                                 ", the scheme pins " + other);
  // A scheme file the job pins, whose list is not pinned: refused too.
  scheme["fields"][0]["list"] = "values.txt";
  std::ofstream(Directory / "scheme.json") << scheme.dump();
  const std::string schemeText = Read(Directory / "scheme.json");
  Document["serial"] = {{"path", "scheme.json"},
                        {"sha256", kestrune::Sha256Hex(
                                       reinterpret_cast<const uint8_t *>(schemeText.data()),
                                       schemeText.size())}};
  ExpectRefused(SignedJob(), "pins no digest for it");

  scheme["fields"][0]["list"] = {{"path", "values.txt"}, {"sha256", digest}};
  Document["serial"] = scheme;
  fs::create_directory(Directory / "h");
  kestrune::handset::HandsetOptions options;
  options.Model = kestrune::handset::RamModel::Host;
  options.FlashDumpDir = Path("h");
  VirtualHandset handset(options);
  ASSERT_TRUE(handset.StartOnPty());
  Result r = Run({"--job", SignedJob(), "--trusted-keys", Path("trusted"), handset.DevicePath()});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  std::vector<uint8_t> flash = Head(Directory / "h" / "run-1.bin", ImageBytes.size());
  ASSERT_GE(flash.size(), 0x1007u);
  EXPECT_EQ(std::string(flash.begin() + 0x1000, flash.begin() + 0x1007), "SN-0001");
}

// Handsets that go away after each run and come back as the next unit.
std::vector<std::unique_ptr<VirtualHandset>> SwappingHandsets(int count) {
  std::vector<std::unique_ptr<VirtualHandset>> handsets;
  for (int c = 0; c < count; ++c) {
    kestrune::handset::HandsetOptions options;
    options.SwapAfterRunMs = 1500;
    handsets.push_back(std::make_unique<VirtualHandset>(options));
    if (!handsets.back()->StartOnPty())
      return {};
  }
  return handsets;
}

int PassedOutcomes(const std::string &events) {
  std::istringstream lines(events);
  std::string line;
  int passed = 0;
  while (std::getline(lines, line)) {
    json event = json::parse(line, nullptr, false);
    if (event.is_object() && event["event"] == "outcome" && event["outcome"] == "passed" &&
        event["job_name"] == "fw-line-a")
      ++passed;
  }
  return passed;
}

TEST_F(Jobs, SeveralRepeatingChannelsBuildTheJobsUnitsAndNoMoreEvenAfterARestart) {
  Document["records"] = Path("station.sqlite");
  Document["units"] = 5;
  Document["repeat"] = 0;
  Document["swap_silence"] = 0.3;
  const std::string job = SignedJob();
  auto handsets = SwappingHandsets(3);
  ASSERT_EQ(handsets.size(), 3u);
  std::vector<std::string> args{"--job", job, "--trusted-keys", Path("trusted"), "--json"};
  for (auto &h : handsets)
    args.push_back(h->DevicePath());
  Result r = Run(args);
  EXPECT_EQ(r.Exit, 3) << r.Out << r.Err;
  EXPECT_EQ(PassedOutcomes(r.Out), 5) << r.Out;
  int flashed = 0;
  for (auto &h : handsets)
    flashed += h->CompletedRuns();
  EXPECT_EQ(flashed, 5);
  EXPECT_NE(r.Out.find("Job fw-line-a: all 5 units built"), std::string::npos) << r.Out;

  // Started again, the count is where it was: no unit is touched.
  VirtualHandset more;
  ASSERT_TRUE(more.StartOnPty());
  Result again = Run({"--job", job, "--trusted-keys", Path("trusted"), more.DevicePath()});
  EXPECT_EQ(again.Exit, 3) << again.Out << again.Err;
  EXPECT_NE((again.Out + again.Err).find("Job fw-line-a: all 5 units built"), std::string::npos)
      << again.Out << again.Err;
  EXPECT_TRUE(Untouched(more));

  // The records name the job; --job finds its runs, every version.
  Result listed = Run({"records", "--records", Path("station.sqlite"), "--job", "fw-line-a",
                       "--format", "json"});
  ASSERT_EQ(listed.Exit, 0) << listed.Err;
  json records = json::parse(listed.Out)["records"];
  const std::string jobBytes = Read(job);
  const std::string jobDigest = kestrune::Sha256Hex(
      reinterpret_cast<const uint8_t *>(jobBytes.data()), jobBytes.size());
  int passed = 0;
  for (const json &record : records) {
    EXPECT_EQ(record["job_version"], "1");
    EXPECT_EQ(record["job_sha256"], jobDigest);
    passed += record["outcome"] == "passed" ? 1 : 0;
  }
  EXPECT_EQ(passed, 5);
  Result other = Run({"records", "--records", Path("station.sqlite"), "--job", "fw-line-b",
                      "--format", "json"});
  EXPECT_TRUE(json::parse(other.Out)["records"].empty()) << other.Out;
  Result version = Run({"records", "--records", Path("station.sqlite"), "--job", "fw-line-a",
                        "--job-version", "2", "--format", "json"});
  EXPECT_TRUE(json::parse(version.Out)["records"].empty()) << version.Out;
}

} // namespace
