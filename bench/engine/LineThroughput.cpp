// Line efficiency and eight-channel scaling, with virtual handsets paced at
// the real line rate (--realtime, 8N2: 11 bits a byte) and instant flash.
//
//   bench_line_throughput [MIB_ONE] [MIB_EACH_OF_EIGHT] [MODEL]
//
// MODEL is the handsets' RAM program model, "host" (default: the handsets
// cost next to no CPU, so the host side is what is measured) or "arm" (each
// handset runs the real RAM program on an emulated core).
//
// 1. One channel sends an image of MIB_ONE MiB (default 2) at 921600 baud:
//    the programming phase ("Starting flash write" to the verdict) against
//    the time its bytes need on the wire.
// 2. Eight channels send MIB_EACH_OF_EIGHT MiB (default 1) each, and, in the
//    same run, one channel alone: aggregate throughput against one channel's,
//    and the CPU share of kestrune-cli while the eight stream.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path BuildDir() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path(); }

pid_t Spawn(const std::vector<std::string> &args, int stdoutFd) {
  pid_t pid = fork();
  if (pid == 0) {
    if (stdoutFd >= 0)
      dup2(stdoutFd, STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    std::vector<char *> argv;
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

std::string Model = "host";

struct Handsets {
  std::vector<pid_t> Pids;
  std::vector<std::string> Ports;
  explicit Handsets(int count) {
    std::string program = (BuildDir() / "handset/kestrune-handset").string();
    for (int i = 0; i < count; ++i) {
      int fds[2];
      if (pipe(fds) != 0)
        return;
      Pids.push_back(Spawn({program, "--pty", "--realtime", "--model", Model}, fds[1]));
      close(fds[1]);
      std::string line;
      char c;
      while (read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
      close(fds[0]);
      Ports.push_back(line);
    }
  }
  ~Handsets() {
    for (pid_t pid : Pids) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
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

// Runs kestrune-cli on the ports, timestamping its lines as they arrive.
Outcome RunCli(const std::string &image, const std::vector<std::string> &ports) {
  std::vector<std::string> args = {(BuildDir() / "cli/kestrune-cli").string(), "--speed", "920K",
                                   "--image", image};
  args.insert(args.end(), ports.begin(), ports.end());
  int fds[2];
  Outcome out;
  if (pipe(fds) != 0)
    return out;
  auto t0 = Clock::now();
  pid_t pid = Spawn(args, fds[1]);
  close(fds[1]);
  std::string pending;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0)
      break;
    auto now = Clock::now();
    pending.append(buffer, size_t(n));
    size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      int channel = std::atoi(line.c_str());
      if (line.find(": Starting flash write") != std::string::npos)
        out.Channels[channel].Start = now;
      if (line.find(": 다운로드 완료 !!!!!!!!!!!!!!!!!") != std::string::npos) {
        out.Channels[channel].End = now;
        out.Channels[channel].Completed = true;
      }
    }
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  out.WallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  out.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  out.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string MakeImage(const fs::path &dir, size_t bytes) {
  fs::path path = dir / ("image-" + std::to_string(bytes) + ".bin");
  std::vector<char> data(bytes);
  std::mt19937 random(7);
  for (auto &b : data)
    b = char(random());
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
  return path.string();
}

// Bytes the programming phase puts on the line: start header and frames.
double WireSeconds(size_t imageBytes, uint32_t baud) {
  size_t blocks = (imageBytes + 32767) / 32768;
  double bytes = 7.0 + double(imageBytes) + 8.0 * double(blocks);
  return bytes * 11.0 / baud;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

} // namespace

int main(int argc, char **argv) {
  size_t oneMiB = size_t(argc > 1 ? std::atof(argv[1]) * 1048576 : 2 * 1048576);
  size_t eachMiB = size_t(argc > 2 ? std::atof(argv[2]) * 1048576 : 1 * 1048576);
  if (argc > 3)
    Model = argv[3];
  std::printf("handsets: --realtime --model %s\n", Model.c_str());
  char pattern[] = "/tmp/kestrune-bench-XXXXXX";
  fs::path dir = mkdtemp(pattern);
  const uint32_t baud = 921600;

  {
    std::string image = MakeImage(dir, oneMiB);
    Handsets handsets(1);
    Outcome o = RunCli(image, handsets.Ports);
    ChannelTimes &c = o.Channels[1];
    if (!c.Completed) {
      std::printf("single channel did not complete (exit %d)\n", o.ExitCode);
      return 1;
    }
    double took = Seconds(c.Start, c.End), wire = WireSeconds(oneMiB, baud);
    std::printf("line efficiency: %.2f MiB at %u baud 8N2: %.3f s programming, %.3f s on the "
                "wire, ratio %.4f\n",
                double(oneMiB) / 1048576, baud, took, wire, took / wire);
  }

  std::string image = MakeImage(dir, eachMiB);
  double single = 0;
  {
    Handsets handsets(1);
    Outcome o = RunCli(image, handsets.Ports);
    ChannelTimes &c = o.Channels[1];
    single = double(eachMiB) / Seconds(c.Start, c.End);
  }
  Handsets handsets(8);
  Outcome o = RunCli(image, handsets.Ports);
  Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
  int completed = 0;
  for (auto &[channel, c] : o.Channels) {
    completed += c.Completed;
    first = std::min(first, c.Start);
    last = std::max(last, c.End);
  }
  double streaming = Seconds(first, last);
  double aggregate = 8.0 * double(eachMiB) / streaming;
  std::printf("eight channels: %d of 8 completed; one channel %.1f KiB/s, eight together %.1f "
              "KiB/s aggregate: %.2f times one channel\n",
              completed, single / 1024, aggregate / 1024, aggregate / single);
  std::printf("kestrune-cli CPU: %.2f s over %.2f s run (%.1f%% of one core; streaming phase "
              "%.2f s)\n",
              o.CpuSeconds, o.WallSeconds, 100 * o.CpuSeconds / o.WallSeconds, streaming);
  fs::remove_all(dir);
  return completed == 8 ? 0 : 1;
}
