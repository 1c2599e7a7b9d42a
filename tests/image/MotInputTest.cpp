// The reads of the S-record reader come out the same whatever the size of
// the chunks the text arrives in.
#include "image/MotInput.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

// One line as the reader gives it.
struct Read {
  std::string Text;
  uint64_t Number;
  bool Ended;
  bool Cut;
  friend bool operator==(const Read &, const Read &) = default;
  friend std::ostream &operator<<(std::ostream &out, const Read &read) {
    return out << read.Number << (read.Ended ? " ended" : "") << (read.Cut ? " cut" : "") << " ["
               << read.Text.size() << "]";
  }
};

// The lines of the text, worked out one character at a time: a line ends
// at "\n", "\r\n" or "\r"; a longer one than MaxLine keeps MaxLine
// characters and counts as not ended (its end is not seen yet).
std::vector<Read> ReferenceReads(const std::string &text) {
  std::vector<Read> reads;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
      ++end;
    Read read{text.substr(at, std::min(end - at, MotInput::MaxLine)), reads.size() + 1,
              end < text.size() && end - at <= MotInput::MaxLine, end - at > MotInput::MaxLine};
    reads.push_back(read);
    if (end == text.size())
      break;
    at = end + 1;
    if (text[end] == '\r' && at < text.size() && text[at] == '\n')
      ++at;
  }
  return reads;
}

std::vector<Read> Reads(MotInput &input) {
  std::vector<Read> reads;
  std::string_view line;
  while (input.NextLine(line))
    reads.push_back({std::string(line), input.LineNumber(), input.LineEnded(), input.LineCut()});
  return reads;
}

std::string RandomText(std::mt19937 &random, size_t size) {
  // Lines of every length up to past MaxLine, some empty, a few NUL and
  // carriage return characters.
  std::string text;
  std::uniform_int_distribution<int> lineLength(0, 1100);
  std::uniform_int_distribution<int> character(0, 1023);
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

TEST(MotInput, LineEndsAndLongLines) {
  std::string longLine(1030, 'x');
  MotMemoryInput input("a\r\nb\rc\n\r\n\rd" + longLine + "\r\ne\r", 7);
  std::vector<Read> reads = Reads(input);
  std::vector<Read> expected{{"a", 1, true, false}, {"b", 2, true, false},
                             {"c", 3, true, false}, {"", 4, true, false},
                             {"", 5, true, false},  {"d" + longLine.substr(0, 1023), 6, false, true},
                             {"e", 7, true, false}};
  EXPECT_EQ(reads, expected);
  MotMemoryInput unended("S1");
  reads = Reads(unended);
  EXPECT_EQ(reads, (std::vector<Read>{{"S1", 1, false, false}}));
}

TEST(MotInput, ReadsMatchTheLineRuleForAnyChunkSize) {
  std::mt19937 random(1234);
  for (size_t size : {0u, 1u, 78u, 1024u, 1025u, 1026u, 2050u, 5000u, 40000u}) {
    std::string text = RandomText(random, size);
    std::vector<Read> expected = ReferenceReads(text);
    for (size_t piece : {1u, 2u, 79u, 1023u, 1024u, 1025u, 1026u, 4096u, 100000u}) {
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
