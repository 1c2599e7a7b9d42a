// Converts a 16 MiB image from about 42 MB of S3 text, side by side with
// srec_cat doing the same conversion, and prints times, their ratio and the
// peak memory of each (each runs as a child process, measured by wait4).
// A sparse image of 256 MiB shows that memory does not grow with the image.
//
//   bench_image_conversion [work-directory]
#include "image/ImageState.h"
#include "image/MotLoaderThread.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Run {
  bool Ok = false;
  double Seconds = 0;
  double PeakMiB = 0;
};

// Runs a program as a child and measures its wall time and peak memory.
Run Measure(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (const std::string &arg : args)
    argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  auto begin = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    ::execvp(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
  }
  Run run;
  int status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
    return run;
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  run.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// One S3 record of 32 bytes with its checksum and a line feed.
void AppendS3(std::string &text, uint32_t address, const uint8_t *data) {
  static const char digits[] = "0123456789ABCDEF";
  uint8_t fields[37] = {0x25, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
  std::memcpy(fields + 5, data, 32);
  unsigned sum = 0;
  for (int i = 0; i < 37; ++i)
    sum += fields[i];
  text += "S3";
  for (int i = 0; i < 37; ++i) {
    text += digits[fields[i] >> 4];
    text += digits[fields[i] & 15];
  }
  uint8_t check = static_cast<uint8_t>(~sum);
  text += digits[check >> 4];
  text += digits[check & 15];
  text += '\n';
}

// A 16 MiB image of pseudo-random bytes at address 0, written in pieces.
uint64_t WriteDenseImage(const std::string &path) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (!out)
    return 0;
  std::string text = "S00600004844521B\n";
  uint64_t total = 0;
  uint32_t state = 0x12345678;
  uint8_t data[32];
  for (uint32_t address = 0; address < 0x1000000; address += 32) {
    for (uint8_t &b : data) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      b = static_cast<uint8_t>(state);
    }
    AppendS3(text, address, data);
    if (text.size() > (1u << 20)) {
      total += std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  }
  text += "S70500000000FA\n";
  total += std::fwrite(text.data(), 1, text.size(), out);
  return std::fclose(out) == 0 ? total : 0;
}

bool SameImage(const std::string &bif, const std::string &bin) {
  std::FILE *a = std::fopen(bif.c_str(), "rb");
  std::FILE *b = std::fopen(bin.c_str(), "rb");
  bool same = a && b && std::fseek(a, 8, SEEK_SET) == 0;
  std::vector<char> x(1 << 16), y(1 << 16);
  while (same) {
    size_t n = std::fread(x.data(), 1, x.size(), a);
    size_t m = std::fread(y.data(), 1, y.size(), b);
    same = n == m && std::memcmp(x.data(), y.data(), n) == 0;
    if (n == 0)
      break;
  }
  if (a)
    std::fclose(a);
  if (b)
    std::fclose(b);
  return same;
}

int Child(const std::string &mot) {
  int code = kestrune::LoadImageFile(mot);
  if (code != 0)
    std::fprintf(stderr, "%s\n", kestrune::LoadStatusText.Get().c_str());
  return code;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--convert") == 0)
    return Child(argv[2]);

  fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kestrune-bench-image";
  fs::create_directories(dir);
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string mot = (dir / "dense.mot").string();
  const std::string bif = (dir / "dense.bif").string();
  const std::string bin = (dir / "dense-srec_cat.bin").string();

  uint64_t textBytes = WriteDenseImage(mot);
  if (textBytes == 0) {
    std::fprintf(stderr, "cannot write %s\n", mot.c_str());
    return 1;
  }
  std::printf("Image conversion: 16 MiB image from %.1f MB of S3 text (%s)\n", textBytes / 1e6,
              dir.c_str());

  // Each side twice, interleaved; the better time of each counts. srec_cat
  // is told the range, so it reads the text once; the loader finds the
  // range itself (two passes) and syncs the .bif to disk.
  Run ours{true, 1e9, 0};
  Run theirs{true, 1e9, 0};
  for (int round = 0; round < 2; ++round) {
    Run t = Measure({"srec_cat", mot, "-fill", "0xFF", "0", "0x1000000", "-o", bin, "-binary"});
    fs::remove(bif);
    Run o = Measure({self, "--convert", mot});
    if (!t.Ok || !o.Ok) {
      std::fprintf(stderr, "a conversion failed (srec_cat %d, loader %d)\n", t.Ok, o.Ok);
      return 1;
    }
    if (t.Seconds < theirs.Seconds)
      theirs = t;
    if (o.Seconds < ours.Seconds)
      ours = o;
  }
  bool same = SameImage(bif, bin);
  std::printf("  srec_cat:        %7.3f s   peak memory %5.1f MiB\n", theirs.Seconds, theirs.PeakMiB);
  std::printf("  kestrune loader: %7.3f s   peak memory %5.1f MiB\n", ours.Seconds, ours.PeakMiB);
  std::printf("  ratio: %.1fx faster; images %s\n", theirs.Seconds / ours.Seconds,
              same ? "identical" : "DIFFER");

  // Two records 256 MiB apart: the image is large, the text tiny.
  const std::string sparse = (dir / "sparse.mot").string();
  {
    std::string text;
    uint8_t data[32] = {1, 2, 3};
    AppendS3(text, 0x00000000, data);
    AppendS3(text, 0x0FFFFFE0, data);
    std::FILE *out = std::fopen(sparse.c_str(), "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0)
      return 1;
  }
  fs::remove(dir / "sparse.bif");
  Run big = Measure({self, "--convert", sparse});
  std::printf("  256 MiB sparse image: %7.3f s   peak memory %5.1f MiB\n", big.Seconds, big.PeakMiB);

  fs::remove_all(dir);
  return same && big.Ok ? 0 : 1;
}
