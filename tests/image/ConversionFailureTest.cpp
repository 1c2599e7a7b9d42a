// A conversion that cannot finish (disk full, killed) never leaves a .bif
// that a later load would take as current.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"

#include <unistd.h>

#include <cerrno>

namespace kestrune {
namespace {

using test::Bytes;
using test::Counting;
using test::Srec;

// What a writer does once its byte limit is reached.
enum class AtLimit { ReportDiskFull, DieOnTheSpot };

// The real writer, cut off after a number of bytes.
class LimitedWriter final : public FileWriter {
public:
  LimitedWriter(uint64_t limit, AtLimit action) : Real(CreateFileWriter()), Left(limit), Action(action) {}

  bool CreateUnique(const std::string &prefix) override {
    bool ok = Real->CreateUnique(prefix);
    FilePath = Real->Path();
    LastErrorCode = Real->LastError();
    return ok;
  }

  bool WriteAt(uint64_t offset, const void *data, size_t count) override {
    size_t take = count < Left ? count : static_cast<size_t>(Left);
    if (!Real->WriteAt(offset, data, take))
      return false;
    Left -= take;
    if (take == count)
      return true;
    if (Action == AtLimit::DieOnTheSpot)
      ::_exit(9);
    LastErrorCode = ENOSPC;
    return false;
  }

  bool SyncToDisk() override { return Real->SyncToDisk(); }
  bool Close() override { return Real->Close(); }

private:
  std::unique_ptr<FileWriter> Real;
  uint64_t Left;
  AtLimit Action;
};

class RefusingWriter final : public FileWriter {
public:
  bool CreateUnique(const std::string &) override {
    LastErrorCode = EACCES;
    return false;
  }
  bool WriteAt(uint64_t, const void *, size_t) override { return false; }
  bool SyncToDisk() override { return false; }
  bool Close() override { return true; }
};

LoaderSeams Limited(uint64_t limit, AtLimit action) {
  LoaderSeams seams;
  seams.NewWriter = [=] { return std::make_unique<LimitedWriter>(limit, action); };
  return seams;
}

class ConversionFailure : public test::LoaderTest {
protected:
  // An image of 0xFA0 bytes in 125 records, the last one first.
  std::string WriteMot(int64_t seconds, uint8_t seed) {
    std::string text = Srec('2', 0x10F80, Counting(32, seed));
    for (uint32_t at = 0x10000; at < 0x10F80; at += 32)
      text += Srec('2', at, Counting(32, static_cast<uint8_t>(seed + at)));
    std::string path = Dir / "image.mot";
    test::WriteFile(path, text);
    test::SetFileTime(path, seconds);
    return path;
  }

  // Header and fill of this image, the bytes written before the records.
  static constexpr uint64_t BeforeRecords = 8 + 0xFA0;
};

TEST_F(ConversionFailure, ADiskFullLeavesTheOldBifAsItWas) {
  std::string mot = WriteMot(1700000000, 0);
  ASSERT_EQ(LoadImageFile(mot), 0);
  std::string bif = Dir / "image.bif";
  Bytes old = test::ReadFile(bif);

  for (uint64_t limit : {uint64_t{0}, uint64_t{6}, BeforeRecords / 2, BeforeRecords + 100}) {
    WriteMot(1700000100, 0x55);
    EXPECT_EQ(LoadImageFile(mot, Limited(limit, AtLimit::ReportDiskFull)), 1) << limit;
    EXPECT_EQ(LoadStatusText.Get(), "ERROR: Cannot write BIF file (28)");
    EXPECT_EQ(test::ReadFile(bif), old) << limit;
    EXPECT_EQ(test::FileTimeSeconds(bif), 1700000000) << limit;
    EXPECT_EQ(Dir.Names(), (std::vector<std::string>{"image.bif", "image.mot"}));
  }
  // With room to write, the next load converts the new text.
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_NE(test::ReadFile(bif), old);
  EXPECT_EQ(test::FileTimeSeconds(bif), 1700000100);
}

TEST_F(ConversionFailure, ADiskFullWithoutAnOldBifLeavesNone) {
  std::string mot = WriteMot(1700000000, 0);
  EXPECT_EQ(LoadImageFile(mot, Limited(BeforeRecords + 1, AtLimit::ReportDiskFull)), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: Cannot write BIF file (28)");
  EXPECT_EQ(Dir.Names(), std::vector<std::string>{"image.mot"});
  // The load failed: no image is ready to send.
  EXPECT_EQ(SentPath(), "");
}

TEST_F(ConversionFailure, ABifThatCannotBeCreatedIsReported) {
  std::string mot = WriteMot(1700000000, 0);
  LoaderSeams refusing;
  refusing.NewWriter = [] { return std::make_unique<RefusingWriter>(); };
  EXPECT_EQ(LoadImageFile(mot, refusing), 1);
  EXPECT_EQ(LoadStatusText.Get(), "ERROR: Cannot open BIF file for writing (13)");
  EXPECT_EQ(SentPath(), "");
  EXPECT_EQ(Dir.Names(), std::vector<std::string>{"image.mot"});
}

TEST_F(ConversionFailure, AKilledConversionNeverLeavesAPartialBifWithTheInputsTime) {
  std::string mot = WriteMot(1700000000, 0);
  ASSERT_EQ(LoadImageFile(mot), 0);
  std::string bif = Dir / "image.bif";
  const Bytes old = test::ReadFile(bif);

  for (uint64_t limit : {uint64_t{3}, BeforeRecords - 1, BeforeRecords + 2000}) {
    WriteMot(1700000200, 0x77);
    EXPECT_EXIT(LoadImageFile(mot, Limited(limit, AtLimit::DieOnTheSpot)),
                ::testing::ExitedWithCode(9), "");
    // The old .bif is still there as it was, out of date for the new text.
    EXPECT_EQ(test::ReadFile(bif), old) << limit;
    EXPECT_NE(FatTimeOf(bif), FatTimeOf(mot));
    // Whatever else the dead conversion left does not look current.
    for (const std::string &name : Dir.Names()) {
      if (name == "image.mot" || name == "image.bif")
        continue;
      EXPECT_EQ(name.rfind("image.bif.~", 0), 0u) << name;
      EXPECT_NE(FatTimeOf(Dir / name), FatTimeOf(mot)) << name;
    }
  }
  // The next load converts again and puts a complete .bif in place.
  ASSERT_EQ(LoadImageFile(mot), 0);
  EXPECT_EQ(LoadStatusText.Get(), "Completed MOT conversion, Start 0x010000, End 0x010FA0");
  EXPECT_EQ(test::ReadFile(bif).size(), BeforeRecords);
}

} // namespace
} // namespace kestrune
