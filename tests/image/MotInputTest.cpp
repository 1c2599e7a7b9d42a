// The reads of the S-record reader come out the same whatever the size of
// the chunks the text arrives in.
#include "image/MotInput.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

// The reads as the 80-character line buffer takes them, one at a time.
std::vector<std::string> ReferenceReads(const std::string &text) {
  std::vector<std::string> reads;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 0;
    while (length < 79 && at + length < text.size()) {
      ++length;
      if (text[at + length - 1] == '\n')
        break;
    }
    reads.push_back(text.substr(at, length));
    at += length;
  }
  return reads;
}

std::vector<std::string> Reads(MotInput &input) {
  std::vector<std::string> reads;
  std::string_view line;
  while (input.NextLine(line))
    reads.emplace_back(line);
  return reads;
}

std::string RandomText(std::mt19937 &random, size_t size) {
  // Mostly lines around the 79-character limit, some empty, some long, a
  // few NUL and carriage return characters.
  std::string text;
  std::uniform_int_distribution<int> lineLength(0, 170);
  std::uniform_int_distribution<int> character(0, 63);
  while (text.size() < size) {
    int length = lineLength(random);
    for (int i = 0; i < length; ++i) {
      int c = character(random);
      text += c == 0 ? '\0' : c == 1 ? '\r' : static_cast<char>('0' + c % 40);
    }
    text += '\n';
  }
  text.resize(size); // the last line may lack its line feed
  return text;
}

TEST(MotInput, ReadsMatchTheLineBufferForAnyChunkSize) {
  std::mt19937 random(1234);
  for (size_t size : {0u, 1u, 78u, 79u, 80u, 158u, 5000u, 40000u}) {
    std::string text = RandomText(random, size);
    std::vector<std::string> expected = ReferenceReads(text);
    for (size_t piece : {1u, 2u, 78u, 79u, 80u, 333u, 4096u, 100000u}) {
      MotMemoryInput input(text, piece);
      EXPECT_EQ(Reads(input), expected) << "size " << size << " piece " << piece;
      ASSERT_TRUE(input.Rewind());
      EXPECT_EQ(Reads(input), expected) << "after rewind, size " << size << " piece " << piece;
      EXPECT_FALSE(input.Failed());
    }
  }
}

// A source that fails after handing over some text.
class FailingInput final : public MotInput {
public:
  explicit FailingInput(std::string text) : MotInput(64), Text(std::move(text)) {}

protected:
  bool ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) override {
    if (Given) {
      error = 5;
      return false;
    }
    received = std::min(room, Text.size());
    std::copy(Text.begin(), Text.begin() + static_cast<std::ptrdiff_t>(received), dest);
    Given = true;
    return true;
  }
  bool RewindSource(uint32_t &) override {
    Given = false;
    return true;
  }

private:
  std::string Text;
  bool Given = false;
};

TEST(MotInput, AReadErrorEndsThePassAndIsKept) {
  FailingInput input(std::string(30, 'x') + "\n");
  std::string_view line;
  EXPECT_FALSE(input.NextLine(line));
  EXPECT_TRUE(input.Failed());
  EXPECT_EQ(input.LastError(), 5u);
  EXPECT_FALSE(input.NextLine(line));
}

} // namespace
} // namespace kestrune
