// Memory of many channels sending one large image: the image is read once
// per load and every channel's plan shares that one buffer.
//
//   bench_plan_memory [CHANNELS] [MIB]
//
// CHANNELS defaults to 64, MIB (the image's size) to 16. Loads a raw image
// of MIB MiB with the loader, starts CHANNELS workers on fake lines whose
// handsets never answer (each waits in its boot ROM call with its plan),
// and prints the resident memory before the load, after it and with every
// channel running, and the cost per channel beyond the image.
#include "engine/CommsThread.h"
#include "engine/RunPlan.h"
#include "image/ImageState.h"
#include "image/MotLoaderThread.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace kestrune;

namespace {

double ResidentMiB() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char **argv) {
  const int channels = argc > 1 ? std::atoi(argv[1]) : 64;
  const int mib = argc > 2 ? std::atoi(argv[2]) : 16;
  if (channels < 1 || channels > 256 || mib < 1 || mib > 1024) {
    std::fprintf(stderr, "usage: bench_plan_memory [CHANNELS 1-256] [MIB 1-1024]\n");
    return 2;
  }
  const fs::path file = fs::temp_directory_path() / ("kestrune-plan-memory-" +
                                                     std::to_string(::getpid()) + ".bin");
  {
    std::ofstream out(file, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (int i = 0; i < mib; ++i) {
      for (size_t j = 0; j < block.size(); ++j)
        block[j] = char((j * 31 + size_t(i)) & 0xFF);
      out.write(block.data(), std::streamsize(block.size()));
    }
  }
  const double before = ResidentMiB();
  if (LoadImageFile(file.string()) != 0) {
    std::fprintf(stderr, "load failed: %s\n", LoadStatusText.Get().c_str());
    return 1;
  }
  fs::remove(file);
  const std::shared_ptr<const ImageBytes> image = LoadedImageReady.Get();
  LoadedImageReady.Set(nullptr);
  const double loaded = ResidentMiB();

  double running = 0;
  long sharers = 0;
  {
    test::WorkerHarness h;
    for (int i = 0; i < channels; ++i)
      h.AddPanel("FAKE" + std::to_string(i));
    for (int i = 1; i <= channels; ++i)
      h.Start(i, PlanRun(image, SpeedRow920K), std::make_unique<test::FakeSerialPort>());
    // Every channel calls its boot ROM; give them time to settle there.
    h.ServeUntil([] { return false; }, std::chrono::milliseconds(1500));
    running = ResidentMiB();
    sharers = image.use_count() - 1;
  }
  const double imageMiB = double(image->File.size()) / (1024.0 * 1024.0);
  std::printf("image: %.1f MiB, channels: %d, plans sharing the image: %ld\n", imageMiB, channels,
              sharers);
  std::printf("resident: %.1f MiB before the load, %.1f MiB loaded, %.1f MiB with %d channels\n",
              before, loaded, running, channels);
  std::printf("load added %.1f MiB (image %.1f MiB); channels added %.1f MiB, %.0f KiB each\n",
              loaded - before, imageMiB, running - loaded,
              (running - loaded) * 1024.0 / channels);
  return 0;
}
