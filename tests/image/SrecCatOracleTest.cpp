// The converted image agrees with what srec_cat (Debian's srecord) makes of
// the same well-formed file, filled with 0xFF from its lowest address.
#include "LoaderTestSupport.h"

#include "image/MotLoaderThread.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace kestrune {
namespace {

using test::Bytes;
using test::Srec;

bool HaveSrecCat() { return std::system("command -v srec_cat >/dev/null 2>&1") == 0; }

struct Block {
  uint32_t Address;
  Bytes Data;
};

// Records of random types and lengths without overlaps, with gaps, in
// random order when shuffled.
std::vector<Block> RandomBlocks(std::mt19937 &random, bool shuffled) {
  std::uniform_int_distribution<int> count(1, 60);
  std::uniform_int_distribution<int> length(1, 32);
  std::uniform_int_distribution<int> gap(0, 3);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<uint32_t> base(0, 0x00FF0000);
  std::vector<Block> blocks;
  uint32_t at = base(random);
  for (int n = count(random); n > 0; --n) {
    if (gap(random) == 0)
      at += static_cast<uint32_t>(byte(random)) + 1;
    Block block{at, Bytes(static_cast<size_t>(length(random)))};
    for (uint8_t &b : block.Data)
      b = static_cast<uint8_t>(byte(random));
    at += static_cast<uint32_t>(block.Data.size());
    blocks.push_back(std::move(block));
  }
  if (shuffled)
    std::shuffle(blocks.begin(), blocks.end(), random);
  return blocks;
}

std::string RecordText(std::mt19937 &random, const std::vector<Block> &blocks, const char *ending) {
  std::string text = std::string("S00600004844521B") + ending;
  for (const Block &block : blocks) {
    // The smallest type that holds the address, or a wider one.
    char type = block.Address + block.Data.size() <= 0x10000 ? '1' : '2';
    if (random() % 3 == 0)
      type = '3';
    text += Srec(type, block.Address, block.Data, ending);
  }
  return text + "S804000000FB" + ending;
}

class SrecCatOracle : public test::LoaderTest {};

TEST_F(SrecCatOracle, ConvertedImagesMatchSrecCat) {
  if (!HaveSrecCat())
    GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
  std::mt19937 random(20240601);
  for (int round = 0; round < 12; ++round) {
    std::vector<Block> blocks = RandomBlocks(random, round % 2 == 1);
    std::string mot = Dir / ("case" + std::to_string(round) + ".mot");
    test::WriteFile(mot, RecordText(random, blocks, round % 3 == 0 ? "\r\n" : "\n"));

    std::string oracle = Dir / "oracle.bin";
    std::string command = "srec_cat -disable-sequence-warnings '(' " + mot + " -fill 0xFF -over " +
                          mot + " ')' -offset - -minimum-addr " + mot + " -o " + oracle +
                          " -binary 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    ASSERT_EQ(LoadImageFile(mot), 0) << LoadStatusText.Get();
    Bytes bif = test::ReadFile(Dir / ("case" + std::to_string(round) + ".bif"));
    ASSERT_GE(bif.size(), 8u);
    uint32_t lowest = std::min_element(blocks.begin(), blocks.end(), [](auto &a, auto &b) {
                        return a.Address < b.Address;
                      })->Address;
    EXPECT_EQ(HeaderWord(bif, 0), lowest) << round;
    EXPECT_EQ(HeaderWord(bif, 4) - HeaderWord(bif, 0), bif.size() - 8) << round;
    EXPECT_EQ(ImagePart(bif), test::ReadFile(oracle)) << "round " << round;
  }
}

} // namespace
} // namespace kestrune
