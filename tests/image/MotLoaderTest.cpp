// The loader's thread and the convert command that polls it.
#include "LoaderTestSupport.h"

#include "cli/ConvertCommand.h"
#include "image/MotLoader.h"

#include <algorithm>
#include <future>
#include <iterator>
#include <sstream>

namespace kestrune {
namespace {

using test::Counting;
using test::Srec;

TEST(MotLoaderThreadWrapper, ReportsStillActiveUntilTheProcedureReturns) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> started;
  MotLoader loader([&] {
    started.set_value();
    released.wait();
    return 7;
  });
  EXPECT_EQ(loader.ExitCode(), 1u); // no image before the first load
  ASSERT_TRUE(loader.Start());
  started.get_future().wait();
  EXPECT_TRUE(loader.Running());
  EXPECT_EQ(loader.ExitCode(), MotLoader::StillActive);
  // One load at a time, in the whole process.
  EXPECT_FALSE(loader.Start());
  MotLoader other([] { return 0; });
  EXPECT_FALSE(other.Start());

  release.set_value();
  loader.Join();
  EXPECT_FALSE(loader.Running());
  EXPECT_EQ(loader.ExitCode(), 7u);
  ASSERT_TRUE(other.Start());
  other.Join();
  EXPECT_EQ(other.ExitCode(), 0u);
  // The same loader starts again once its load has ended.
  ASSERT_TRUE(other.Start());
  other.Join();
}

class ConvertCommand : public test::LoaderTest {};

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST_F(ConvertCommand, PrintsTheLoadersTextsAndReturnsItsExitCode) {
  std::string mot = Dir / "app.mot";
  test::WriteFile(mot, Srec('1', 0x10, Counting(16)));

  std::ostringstream first;
  EXPECT_EQ(RunConvert(mot, first), 0);
  std::vector<std::string> lines = Lines(first.str());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Completed MOT conversion, Start 0x000010, End 0x000020");
  for (size_t i = 1; i < lines.size(); ++i)
    EXPECT_NE(lines[i], lines[i - 1]); // each text once as it changes
  EXPECT_EQ(LoadStatusText.Get(), ""); // emptied after the final text

  std::ostringstream second;
  EXPECT_EQ(RunConvert(mot, second), 0);
  EXPECT_EQ(Lines(second.str()).back(), "BIF 파일 , 시작 0x000010, 종료 0x000020");

  // Warnings come before the final text, each once.
  test::WriteFile(mot, Srec('1', 0x10, Counting(16)) + Srec('1', 0x10, Counting(4)));
  std::ostringstream warned;
  EXPECT_EQ(RunConvert(mot, warned), 0);
  lines = Lines(warned.str());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "Completed MOT conversion, Start 0x000010, End 0x000020");
  const std::vector<std::string> warnings{
      "WARNING: MOT file has no termination record (S7, S8 or S9)",
      "WARNING: MOT file line 2: the record at 0x000010 overlaps data of an earlier record; the "
      "later bytes are kept"};
  std::vector<std::string> printed;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(printed),
               [](const std::string &line) { return line.rfind("WARNING: ", 0) == 0; });
  EXPECT_EQ(printed, warnings);

  std::ostringstream missing;
  EXPECT_EQ(RunConvert(Dir / "none.mot", missing), 1);
  EXPECT_EQ(missing.str(), "ERROR: Cannot open MOT file for reading\n");
}

} // namespace
} // namespace kestrune
