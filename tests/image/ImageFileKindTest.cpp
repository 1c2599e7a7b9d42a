// Images are regular files (or links to them) of at most 65535 blocks:
// FIFOs and devices fail the load at once, sizes are read in 64 bits.
#include "LoaderTestSupport.h"

#include "image/ImageLimits.h"
#include "image/MotLoaderThread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

namespace kestrune {
namespace {

using test::Counting;
using test::Srec;

class ImageFileKind : public test::LoaderTest {
protected:
  // The load on a thread of its own, so that a hang fails the test.
  int LoadWithin(const std::string &path, std::chrono::seconds limit = std::chrono::seconds(5)) {
    auto load = std::async(std::launch::async, [path] { return LoadImageFile(path); });
    if (load.wait_for(limit) != std::future_status::ready) {
      ADD_FAILURE() << "the load of " << path << " hangs";
      // Let the blocked open go: a writer on the FIFO ends the wait.
      int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0)
        ::close(fd);
    }
    return load.get();
  }

  void Sparse(const std::string &path, uint64_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
  }
};

TEST_F(ImageFileKind, AFifoFailsAtOnceWhateverItsName) {
  for (const char *name : {"pipe.mot", "pipe.bin", "pipe.bif"}) {
    std::string path = Dir / name;
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(LoadWithin(path), 1) << name;
    std::string kind = std::string(name) == "pipe.mot"   ? "MOT"
                       : std::string(name) == "pipe.bin" ? "BIN"
                                                         : "BIF";
    EXPECT_EQ(LoadStatusText.Get(), "ERROR: " + kind + " file is a FIFO, not a regular file");
  }
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"pipe.bif", "pipe.bin", "pipe.mot"}));
}

TEST_F(ImageFileKind, DevicesFailEvenThroughALink) {
  std::filesystem::create_symlink("/dev/zero", Dir.path() / "zero.mot");
  std::filesystem::create_symlink("/dev/urandom", Dir.path() / "random.bin");
  EXPECT_EQ(LoadWithin(Dir / "zero.mot"), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: MOT file is a character device, not a regular file");
  EXPECT_EQ(LoadWithin(Dir / "random.bin"), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: BIN file is a character device, not a regular file");
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"random.bin", "zero.mot"}));

  // A link to a regular file is the file.
  test::WriteFile(Dir / "real.mot", Srec('1', 0x40, Counting(8)) + "S9030000FC\n");
  std::filesystem::create_symlink(Dir / "real.mot", Dir.path() / "link.mot");
  ASSERT_EQ(LoadWithin(Dir / "link.mot"), 0) << LoadStatusText.Get();
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x000040, End 0x000048");
}

TEST_F(ImageFileKind, ABinOfMoreThan65535BlocksFailsBySize) {
  // 4 GiB + 100 bytes: a 32-bit size would read 100.
  std::string huge = Dir / "huge.bin";
  Sparse(huge, (uint64_t{1} << 32) + 100);
  EXPECT_EQ(LoadImageFile(huge), 1);
  EXPECT_EQ(LoadStatusText.Get(),
            "ERROR: Image of 4294967396 bytes is too large (at most 65535 blocks of 32768 bytes)");

  std::string largest = Dir / "largest.bin";
  Sparse(largest, MaxImageBytes);
  ASSERT_EQ(LoadImageFile(largest), 0) << LoadStatusText.Get();
  EXPECT_EQ(LoadStatusText.Get(), "BIN 파일 , 시작 0x000000, 종료 0x7FFF8000");
  Sparse(largest, MaxImageBytes + 1);
  EXPECT_EQ(LoadImageFile(largest), 1);
}

TEST_F(ImageFileKind, ABifOfMoreThan65535BlocksFailsAndSoDoesSuchAConversion) {
  std::string bif = Dir / "huge.bif";
  Sparse(bif, 8 + MaxImageBytes + 1);
  EXPECT_EQ(LoadImageFile(bif), 1);
  EXPECT_EQ(LoadStatusText.Get(),
            "ERROR: Image of 2147450881 bytes is too large (at most 65535 blocks of 32768 bytes)");

  // Two records 2 GiB apart: nothing is written.
  std::string mot = Dir / "wide.mot";
  test::WriteFile(mot, Srec('3', 0x10000000, Counting(4)) + Srec('3', 0x90000000, Counting(4)) +
                           "S70500000000FA\n");
  EXPECT_EQ(LoadImageFile(mot), 1);
  EXPECT_EQ(LoadStatusText.Get(),
            "ERROR: Image of 2147483652 bytes is too large (at most 65535 blocks of 32768 bytes)");
  EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"huge.bif", "wide.mot"}));
}

} // namespace
} // namespace kestrune
