// The RAM program image the engine carries: its shape, and that it is what
// the current sources build to.
#include "engine/RamProgram.h"
#include "ramprogram/RamProgramSource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace kestrune {
namespace {

std::string ReadFile(const char *path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(RamProgramImage, EndsInTwentyEightBytesOfFF) {
  ASSERT_EQ(RamProgram.size(), 5888u);
  for (size_t i = RamProgram.size() - 28; i < RamProgram.size(); ++i)
    EXPECT_EQ(RamProgram[i], 0xFF) << "byte " << i;
  // Code right up to the tail would leave no room: the program is small.
  EXPECT_NE(RamProgram[0], 0xFF);
}

TEST(RamProgramImage, WasBuiltFromTheCurrentSources) {
  std::string hash = ReadFile(KESTRUNE_RAM_PROGRAM_HASH);
  ASSERT_FALSE(hash.empty()) << "no source hash at " << KESTRUNE_RAM_PROGRAM_HASH;
  EXPECT_EQ(hash, std::string(RamProgramSourceHash) + "\n")
      << "the RAM program's sources changed: rebuild the committed image with the target "
         "update-ram-program";
}

TEST(RamProgramImage, IsWhatTheCrossCompilerBuildsNow) {
  if (!KESTRUNE_HAVE_ARM_COMPILER)
    GTEST_SKIP() << "arm-none-eabi-gcc is not installed";
  std::string fresh = ReadFile(KESTRUNE_RAM_PROGRAM_BIN);
  ASSERT_EQ(fresh.size(), RamProgram.size()) << KESTRUNE_RAM_PROGRAM_BIN;
  size_t differing = 0;
  for (size_t i = 0; i < fresh.size(); ++i)
    differing += uint8_t(fresh[i]) != RamProgram[i];
  EXPECT_EQ(differing, 0u) << "the committed image differs from a fresh build: rebuild it with "
                              "the target update-ram-program";
}

} // namespace
} // namespace kestrune
