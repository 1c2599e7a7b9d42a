// A 4 MiB image flashed by one channel into a virtual handset that runs the
// real RAM program on its emulated core, in fast mode (no line pacing, no
// flash times), and where the time goes: the emulated core's own processor
// time against that of the rest of the process (the channel worker, the
// handset's line thread, the pseudo-terminal). Then the same image fed
// straight into an emulated core over its byte interface, without worker
// or line, for the emulator's own figures.
#include "engine/LineSpeed.h"
#include "engine/RamProgram.h"
#include "handset/VirtualHandset.h"
#include "handset/arm/ArmCore.h"
#include "handset/arm/FlashChip.h"
#include "image/MotLoaderThread.h"
#include "tests/support/TestPanel.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace kestrune;
using namespace std::chrono;

namespace {

constexpr size_t ImageSize = 4u << 20;
constexpr uint32_t Block = 32768;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 12345;
  for (auto &b : bytes) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return bytes;
}

double Seconds(nanoseconds d) { return duration<double>(d).count(); }

nanoseconds ProcessCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto tv = [](timeval t) { return seconds(t.tv_sec) + microseconds(t.tv_usec); };
  return tv(usage.ru_utime) + tv(usage.ru_stime);
}

// The whole system: worker, pseudo-terminal, virtual handset, emulated core.
int ThroughTheLine(const std::vector<uint8_t> &image, const std::filesystem::path &file) {
  if (LoadImageFile(file.string()) != 0) {
    std::printf("the image did not load\n");
    return 1;
  }
  handset::VirtualHandset handset;
  if (!handset.StartOnPty()) {
    std::printf("cannot start a virtual handset: %s\n", handset.ErrorText().c_str());
    return 1;
  }
  test::WorkerHarness h;
  test::TestPanel &panel = h.AddPanel(handset.DevicePath(), ButtonsForRow(SpeedRow920K));
  steady_clock::time_point started = steady_clock::now(), flashing{};
  panel.OnText = [&](const std::string &text) {
    if (text == "Starting flash write")
      flashing = steady_clock::now();
  };
  nanoseconds cpuBefore = ProcessCpu();
  h.Start(1);
  h.ServeUntilAllEnded(seconds(120));
  nanoseconds wall = steady_clock::now() - started;
  nanoseconds cpu = ProcessCpu() - cpuBefore;
  if (panel.LastText() != "다운로드 완료 !!!!!!!!!!!!!!!!!") {
    std::printf("the download did not complete: %s\n", panel.LastText().c_str());
    return 1;
  }
  handset.WaitForRuns(1, seconds(5));
  auto runs = handset.Runs();
  auto flash = handset.ReadFlash(0, uint32_t(image.size()));
  if (runs.empty() || flash != image) {
    std::printf("the flash does not hold the image\n");
    return 1;
  }
  const auto &run = runs[0];
  std::printf("4 MiB through worker, pseudo-terminal and emulated core at 921600 (fast mode):\n");
  std::printf("  whole run            %6.2f s wall (handshake %.2f s, programming %.2f s)\n",
              Seconds(wall), Seconds(flashing - started), Seconds(steady_clock::now() - flashing));
  std::printf("  process CPU          %6.2f s\n", Seconds(cpu));
  std::printf("  emulated core CPU    %6.2f s (asleep %.2f s, waiting for the host or the flash)\n",
              Seconds(run.CoreCpu), Seconds(run.CoreAsleep));
  std::printf("  rest of the process  %6.2f s (worker, handset line thread, pseudo-terminal)\n",
              Seconds(cpu - run.CoreCpu));
  return 0;
}

// The emulator alone: the image framed and handed to the core's UART.
int StraightIntoTheCore(const std::vector<uint8_t> &image) {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<uint8_t> answers;
  arm::FlashChip flash;
  arm::CoreOptions options;
  options.TimerSpeed = 100; // the identification pacing is not what is measured
  arm::ArmCore core(
      flash,
      [&](uint8_t byte, const arm::UartLine &) {
        std::lock_guard guard(lock);
        answers.push_back(byte);
        arrived.notify_all();
      },
      options);
  auto expect = [&](size_t count) {
    std::unique_lock guard(lock);
    return arrived.wait_for(guard, seconds(30), [&] { return answers.size() >= count; });
  };
  arm::UartLine line; // 28800 8N2
  auto send = [&](std::vector<uint8_t> bytes) { core.FromHost(bytes, line); };
  if (core.Start(RamProgram, RamProgramLoadAddress, line) || !expect(1))
    return 1;
  send({0x21, 0x01, 0, 0, 0, 0x00});
  line.Rate = 921600;
  send({0x21, 0x00});
  send({0x21, 0x02, 0x01, 0, 0, 0});
  std::vector<uint8_t> map{0x00, 0x83};
  for (uint32_t a : SegmentMap)
    for (int s = 24; s >= 0; s -= 8)
      map.push_back(uint8_t(a >> s));
  send(map);
  send({0x21});
  if (!expect(13))
    return 1;
  const uint32_t total = uint32_t(image.size() / Block);
  auto started = steady_clock::now();
  send({uint8_t(total >> 8), uint8_t(total), 0, 0, 0x80, 0, 0x01});
  size_t expected = 14;
  for (uint32_t k = 0; k < total; ++k) {
    if (!expect(expected))
      return 1;
    std::vector<uint8_t> frame(8 + Block);
    uint32_t offset = k * Block;
    uint16_t sum = 0;
    for (int i = 0; i < 4; ++i) {
      frame[4 + i] = uint8_t(offset >> (24 - 8 * i));
      sum = uint16_t(sum + frame[4 + i]);
    }
    for (uint32_t i = 0; i < Block; ++i) {
      frame[8 + i] = image[offset + i];
      sum = uint16_t(sum + image[offset + i]);
    }
    frame[0] = uint8_t(Block >> 8);
    frame[1] = uint8_t(Block);
    frame[2] = uint8_t(sum >> 8);
    frame[3] = uint8_t(sum);
    send(frame);
    expected += k == 1 ? 131 : 1;
  }
  if (!expect(expected - 1) || !core.WaitUntilEnded(seconds(30)))
    return 1;
  auto stats = core.Stats();
  nanoseconds wall = steady_clock::now() - started;
  bool same = std::equal(image.begin(), image.end(), flash.Contents().begin());
  std::printf("4 MiB straight into the emulated core (no worker, no line):\n");
  std::printf("  programming          %6.2f s wall, core CPU %.2f s, %llu device accesses%s\n",
              Seconds(wall), Seconds(stats.CpuTime),
              static_cast<unsigned long long>(stats.DeviceAccesses),
              same ? "" : " (FLASH DIFFERS)");
  return same ? 0 : 1;
}

} // namespace

int main() {
  auto directory = std::filesystem::temp_directory_path() /
                   ("kestrune-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  auto file = directory / "image.bin";
  const auto image = Pattern(ImageSize);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
  int result = ThroughTheLine(image, file);
  if (result == 0)
    result = StraightIntoTheCore(image);
  std::filesystem::remove_all(directory);
  return result;
}
