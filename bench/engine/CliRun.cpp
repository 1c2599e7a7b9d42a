#include "bench/engine/CliRun.h"

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
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace kestrune::bench {

fs::path BuildDir() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path();
}

pid_t Spawn(const std::vector<std::string> &args, int stdoutFd, int stderrFd) {
  pid_t pid = fork();
  if (pid == 0) {
    if (stdoutFd >= 0)
      dup2(stdoutFd, STDOUT_FILENO);
    dup2(stderrFd >= 0 ? stderrFd : open("/dev/null", O_WRONLY), STDERR_FILENO);
    std::vector<char *> argv;
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

Handsets::Handsets(int count, const std::string &model)
    : Handsets(std::vector<std::vector<std::string>>(size_t(count),
                                                     {"--realtime", "--model", model})) {}

Handsets::Handsets(const std::vector<std::vector<std::string>> &options,
                   const fs::path &logFolder) {
  std::string program = (BuildDir() / "handset/kestrune-handset").string();
  for (const std::vector<std::string> &extra : options) {
    int fds[2];
    if (pipe(fds) != 0)
      return;
    std::vector<std::string> args{program, "--pty"};
    args.insert(args.end(), extra.begin(), extra.end());
    int log = -1;
    if (!logFolder.empty()) {
      args.push_back("--trace");
      std::string name = "handset-" + std::to_string(Pids.size() + 1) + ".log";
      log = open((logFolder / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    Pids.push_back(Spawn(args, fds[1], log));
    if (log >= 0)
      close(log);
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
      line += c;
    close(fds[0]);
    Ports.push_back(line);
  }
}

Handsets::~Handsets() {
    for (pid_t pid : Pids) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
}

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
  ForEachLine(fds[0], [&out](const std::string &line) {
    auto now = Clock::now();
    int channel = std::atoi(line.c_str());
    if (line.find(": Starting flash write") != std::string::npos)
      out.Channels[channel].Start = now;
    if (line.find(": 다운로드 완료 !!!!!!!!!!!!!!!!!") != std::string::npos) {
      out.Channels[channel].End = now;
      out.Channels[channel].Completed = true;
    }
  });
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

double WireSeconds(size_t imageBytes, uint32_t baud) {
  size_t blocks = (imageBytes + 32767) / 32768;
  double bytes = 7.0 + double(imageBytes) + 8.0 * double(blocks);
  return bytes * 11.0 / baud;
}

void ForEachLine(int fd, const std::function<void(const std::string &line)> &onLine) {
  std::string pending;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0)
      return;
    pending.append(buffer, size_t(n));
    size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      onLine(pending.substr(0, eol));
      pending.erase(0, eol + 1);
    }
  }
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

} // namespace kestrune::bench
