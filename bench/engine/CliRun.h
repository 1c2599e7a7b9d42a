// Driving kestrune-cli and kestrune-handset as separate programs for the
// line benchmarks: handsets on pseudo-terminals paced at the line rate, the
// command line front end timestamped line by line, and its CPU time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrune::bench {

using Clock = std::chrono::steady_clock;

std::filesystem::path BuildDir();
// stderr goes to stderrFd, or nowhere when it is negative.
pid_t Spawn(const std::vector<std::string> &args, int stdoutFd, int stderrFd = -1);

// count handsets with --pty --realtime and the given RAM program model.
struct Handsets {
  std::vector<pid_t> Pids;
  std::vector<std::string> Ports;
  Handsets(int count, const std::string &model);
  // One handset per argument list (kestrune-handset's options after --pty);
  // with a log folder, each one's stderr goes to handset-N.log in it.
  explicit Handsets(const std::vector<std::vector<std::string>> &options,
                    const std::filesystem::path &logFolder = {});
  ~Handsets();
};

struct ChannelTimes {
  Clock::time_point Start, End;
  bool Completed = false;
};

struct Outcome {
  std::map<int, ChannelTimes> Channels;
  double CpuSeconds = 0;
  double WallSeconds = 0;
  int ExitCode = -1;
};

// Runs kestrune-cli at 920K on the ports, timestamping its lines as they
// arrive: the programming phase of each channel runs from "Starting flash
// write" to the verdict.
Outcome RunCli(const std::string &image, const std::vector<std::string> &ports);

std::string MakeImage(const std::filesystem::path &dir, size_t bytes);
// Bytes the programming phase puts on the line: start header and frames.
double WireSeconds(size_t imageBytes, uint32_t baud);
double Seconds(Clock::time_point a, Clock::time_point b);
// Reads fd to its end, handing over each line (without its newline) as it
// arrives.
void ForEachLine(int fd, const std::function<void(const std::string &line)> &onLine);

} // namespace kestrune::bench
