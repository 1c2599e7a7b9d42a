// A new .bif takes the place of one that a channel is still reading: the
// rename succeeds on every platform and the reader goes on with the bytes
// it opened.
#include "LoaderTestSupport.h"

#include "platform/FileWriter.h"
#include "platform/ImageFileReader.h"

namespace kestrune {
namespace {

class ReplaceWhileReading : public test::LoaderTest {};

TEST_F(ReplaceWhileReading, RenameOverAnOpenImageKeepsTheReadersBytes) {
  std::string bif = Dir / "펌웨어.bif";
  test::WriteFile(bif, std::string(4096, 'A'));
  auto reader = CreateImageFileReader();
  ASSERT_TRUE(reader->Open(bif)) << reader->LastError();
  char first[1024];
  uint32_t received = 0;
  ASSERT_TRUE(reader->Read(first, sizeof first, received));
  ASSERT_EQ(received, sizeof first);

  auto writer = CreateFileWriter();
  ASSERT_TRUE(writer->CreateUnique(bif)) << writer->LastError();
  std::string fresh(2048, 'B');
  ASSERT_TRUE(writer->WriteAt(0, fresh.data(), fresh.size()));
  ASSERT_TRUE(writer->SyncToDisk());
  uint32_t error = 0;
  EXPECT_TRUE(ReplaceFileWith(writer->Path(), bif, error)) << "error " << error;
  ASSERT_TRUE(writer->Close());

  char rest[4096];
  ASSERT_TRUE(reader->Read(rest, sizeof rest, received)) << reader->LastError();
  EXPECT_EQ(std::string(rest, received), std::string(3072, 'A'));
  reader->Close();
  EXPECT_EQ(test::ReadFile(bif), test::Bytes(2048, 'B'));
  EXPECT_EQ(Dir.Names(), std::vector<std::string>{"펌웨어.bif"});
}

} // namespace
} // namespace kestrune
