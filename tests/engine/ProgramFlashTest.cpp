// The programming exchange, byte for byte, with a scripted line: what the
// host sends for each image and how it follows every kind of answer.
#include "engine/CommsThread.h"
#include "image/ImageLimits.h"
#include "image/ImageState.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

using namespace kestrune;
using namespace kestrune::test;
using namespace std::chrono;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t Ack = 0x21, Nak = 0x15;
const std::string Done = "다운로드 완료 !!!!!!!!!!!!!!!!!";
const Bytes EraseReportOk = [] { return Bytes(131, Ack); }();

// The messages after the flash type answer: index 0 is the start header,
// then one per block frame written. The script returns the bytes to answer.
using Answers = std::function<std::vector<Bytes>(size_t message, const Bytes &written)>;

std::shared_ptr<FakeSerialPort::State> Handset(FakeSerialPort &port, Answers answers) {
  auto shared = port.Shared;
  std::weak_ptr<FakeSerialPort::State> weak = shared;
  auto phase = std::make_shared<int>(0); // 0 boot, 1 flash type asked, 2 programming
  auto seen = std::make_shared<size_t>(0);
  auto message = std::make_shared<size_t>(0);
  auto previous = std::make_shared<Bytes>();
  shared->SetResponder([=](const Bytes &bytes) {
    auto s = weak.lock();
    Bytes last = std::exchange(*previous, bytes);
    if (*phase == 0) {
      if (bytes == Bytes{0x45})
        s->Answer({0x43});
      if (bytes.size() == 256 && ++*seen == 23)
        s->Answer({Ack});
      if (bytes == Bytes{0x00} && last == Bytes{0x21} && *seen == 23) { // identification
        for (int i = 0; i < 10; ++i)
          s->Answer({0x42});
        *seen = 24;
      }
      if (bytes == Bytes{0x01, 0x00, 0x00, 0x00} && *seen == 24)
        s->Answer({0x01});
      if (bytes == Bytes{0x00, 0xFE, 0x00, 0x00})
        *phase = 1;
      return;
    }
    if (*phase == 1) { // the flash type request
      s->Answer({Ack});
      *phase = 2;
      return;
    }
    if (bytes.size() < 8 && bytes != Bytes{0x01})
      return; // the first two fields of the start header
    for (const Bytes &answer : answers((*message)++, bytes))
      s->Answer(answer);
  });
  return shared;
}

struct ImageFile {
  fs::path Path;
  ImageFile(const Bytes &image, bool raw, uint32_t start = 0) {
    Path = fs::temp_directory_path() /
           ("kestrune-program-" + std::to_string(::getpid()) + (raw ? ".bin" : ".bif"));
    std::ofstream out(Path, std::ios::binary);
    if (!raw) {
      uint32_t header[2] = {start, start + uint32_t(image.size())};
      out.write(reinterpret_cast<const char *>(header), 8);
    }
    out.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    out.close();
    Load();
  }
  // Makes the file's bytes as they are now the image the next run sends.
  void Load() {
    std::string error;
    LoadedImageReady.Set(ReadImageBytes(Path.string(), IdentifyFile(Path.string()),
                                         Path.string(), Path.extension() == ".bin", error));
    LoadError = error;
  }
  std::string LoadError;
  ~ImageFile() { fs::remove(Path); }
};

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i)
    b[i] = uint8_t(i * 31 + i / 256);
  return b;
}

struct Programming {
  WorkerHarness H;
  TestPanel *Panel;
  std::shared_ptr<FakeSerialPort::State> Line;
  std::vector<Bytes> Frames; // every block frame written, in order

  explicit Programming(Answers answers) {
    Panel = &H.AddPanel("COM7");
    auto port = std::make_unique<FakeSerialPort>();
    Line = Handset(*port, [this, answers](size_t message, const Bytes &written) {
      if (message > 0)
        Frames.push_back(written);
      return answers(message, written);
    });
    H.Start(1, std::move(port));
  }
  bool Finish() {
    return H.ServeUntilAllEnded(seconds(20));
  }
  std::vector<std::string> TextsFrom(const std::string &first) {
    auto &t = Panel->Texts;
    auto it = std::find(t.begin(), t.end(), first);
    return {it, t.end()};
  }
};

// A healthy handset for an image of `blocks` blocks.
Answers Healthy(size_t blocks) {
  return [blocks](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 2 && blocks >= 3)
      return {EraseReportOk}; // its last byte is the ready answer for block 3
    if (message == 0 && blocks == 0)
      return {{Ack}, {Ack}}; // ready, and at once the verdict
    return {{Ack}};
  };
}

Bytes Reassembled(const std::vector<Bytes> &frames) {
  Bytes image;
  for (const Bytes &f : frames)
    image.insert(image.end(), f.begin() + 8, f.end());
  return image;
}

TEST(ProgramFlash, FrameCarriesLengthSumAndOffset) {
  Bytes image = Pattern(32768);
  image.insert(image.end(), {0x01, 0x02, 0x03});
  ImageFile file(image, true);
  Programming p(Healthy(2));
  ASSERT_TRUE(p.Finish());
  ASSERT_EQ(p.Frames.size(), 2u);
  EXPECT_EQ(p.Frames[1], (Bytes{0x00, 0x03, 0x00, 0x86, 0x00, 0x00, 0x80, 0x00, 1, 2, 3}));
  EXPECT_EQ(p.Frames[0].size(), 8u + 32768);
  EXPECT_EQ(p.Panel->LastText(), Done);
}

TEST(ProgramFlash, FramesNameTheFlashAddressOfTheirData) {
  Bytes image = Pattern(32768);
  image.insert(image.end(), {0x01, 0x02, 0x03});
  ImageFile file(image, false, 0x8000);
  Programming p(Healthy(2));
  ASSERT_TRUE(p.Finish());
  ASSERT_EQ(p.Frames.size(), 2u);
  EXPECT_EQ(Bytes(p.Frames[0].begin() + 4, p.Frames[0].begin() + 8), (Bytes{0, 0, 0x80, 0}));
  // The block sum covers the address bytes: 0x01 + 1 + 2 + 3.
  EXPECT_EQ(p.Frames[1], (Bytes{0x00, 0x03, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 1, 2, 3}));
  EXPECT_EQ(Reassembled(p.Frames), image);
  EXPECT_EQ(p.Panel->LastText(), Done);
}

TEST(ProgramFlash, ImageMayEndAtTheTopOfTheAddressSpaceButNotPastIt) {
  {
    ImageFile file(Pattern(0x10000), false, 0xFFFF0000u);
    Programming p(Healthy(2));
    ASSERT_TRUE(p.Finish());
    ASSERT_EQ(p.Frames.size(), 2u);
    EXPECT_EQ(Bytes(p.Frames[1].begin() + 4, p.Frames[1].begin() + 8),
              (Bytes{0xFF, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(p.Panel->LastText(), Done);
  }
  ImageFile file(Pattern(0x10001), false, 0xFFFF0000u);
  Programming p(Healthy(3));
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(p.Panel->LastText(), "ERROR Image runs past address 0xFFFFFFFF (0)");
  EXPECT_EQ(p.Line->Writes.back(), Bytes{0x21}); // nothing after the flash type request
}

TEST(ProgramFlash, ImagesOfMoreBlocksThanTheHeaderCanAnnounceAreRefused) {
  // 65536 blocks and one byte, and 4 GiB and 100 bytes (sparse files): the
  // load refuses them before reading a byte, and a run without an image
  // sends no block.
  for (uint64_t size : {uint64_t(65536) * 32768 + 1, (uint64_t(1) << 32) + 100}) {
    ImageFile file({}, true);
    fs::resize_file(file.Path, size);
    file.Load();
    EXPECT_EQ(file.LoadError, ImageTooLargeText(size)) << size;
    Programming p(Healthy(1));
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(p.Panel->LastText(), "ERROR 해당 BIN file 을 찾을 수 없습니다. (2)") << size;
    EXPECT_EQ(p.Line->Writes.back(), Bytes{0x21});
    EXPECT_TRUE(p.Frames.empty());
  }
}

TEST(ProgramFlash, ImageCutOrRewrittenDuringTheRunStillSendsTheLoadedBytes) {
  // Cut inside block 2, at its very start, and rewritten with other bytes
  // of the same size, while block 1 goes out: every block comes from the
  // load, never from the file as it is now.
  for (int change : {0, 1, 2}) {
    SCOPED_TRACE(change);
    ImageFile file(Pattern(3 * 32768), true);
    Programming p([&](size_t message, const Bytes &) -> std::vector<Bytes> {
      if (message == 1 && change < 2)
        fs::resize_file(file.Path, change == 0 ? 32768 + 100 : 32768);
      if (message == 1 && change == 2)
        std::ofstream(file.Path, std::ios::binary) << std::string(3 * 32768, '\x77');
      if (message == 2)
        return {EraseReportOk};
      return {{Ack}};
    });
    ASSERT_TRUE(p.Finish());
    EXPECT_EQ(Reassembled(p.Frames), Pattern(3 * 32768));
    EXPECT_EQ(p.Panel->LastText(), Done);
  }
}

TEST(ProgramFlash, ImageThatGrowsDuringTheRunSendsTheSizeReadAtTheStart) {
  ImageFile file(Pattern(40000), true);
  Programming p([&](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 1)
      std::ofstream(file.Path, std::ios::binary | std::ios::app) << std::string(50000, 'x');
    return {{Ack}};
  });
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(Reassembled(p.Frames), Pattern(40000));
  EXPECT_TRUE(p.Panel->Saw("Sending block 2 of 2"));
  EXPECT_EQ(p.Panel->LastText(), Done);
}

TEST(ProgramFlash, StartHeaderAnnouncesTheBlockTotal) {
  ImageFile file(Pattern(5 * 32768 - 100), false);
  Programming p(Healthy(5));
  ASSERT_TRUE(p.Finish());
  const auto &w = p.Line->Writes;
  auto header = std::find(w.begin(), w.end(), Bytes{0x00, 0x05});
  ASSERT_NE(header, w.end());
  EXPECT_EQ(*(header + 1), (Bytes{0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(*(header + 2), Bytes{0x01});
  EXPECT_EQ(Reassembled(p.Frames), Pattern(5 * 32768 - 100));
  EXPECT_EQ(p.Panel->Maximums().back(), 5u);
}

TEST(ProgramFlash, TextsForEveryImageSize) {
  struct Case {
    size_t Size;
    bool Raw;
    std::vector<std::string> Tail; // texts from "Starting flash write" on, sectors aside
  };
  const std::vector<Case> cases = {
      {0, false, {"Starting flash write", Done}},
      {1, true, {"Starting flash write", "Sending block 1 of 1", "Waiting for FLASH to erase", Done}},
      {40000, true,
       {"Starting flash write", "Sending block 1 of 2", "Sending block 2 of 2",
        "Waiting for FLASH to erase", Done}},
      {3 * 32768, false,
       {"Starting flash write", "Sending block 1 of 3", "Sending block 2 of 3",
        "Sending block 3 of 3", Done}},
  };
  for (const Case &c : cases) {
    ImageFile file(Pattern(c.Size), c.Raw);
    Programming p(Healthy((c.Size + 32767) / 32768));
    ASSERT_TRUE(p.Finish());
    std::vector<std::string> texts;
    for (const std::string &t : p.TextsFrom("Starting flash write"))
      if (t.rfind(" Flash Erasing Sector ", 0) != 0)
        texts.push_back(t);
    EXPECT_EQ(texts, c.Tail) << "image of " << c.Size << " bytes";
    EXPECT_EQ(Reassembled(p.Frames), Pattern(c.Size));
  }
}

TEST(ProgramFlash, EraseReportIsShownSectorBySector) {
  ImageFile file(Pattern(3 * 32768), false);
  Programming p(Healthy(3));
  ASSERT_TRUE(p.Finish());
  auto texts = p.TextsFrom("Sending block 2 of 3");
  ASSERT_GE(texts.size(), 133u);
  EXPECT_EQ(texts[1], " Flash Erasing Sector 1/131");
  EXPECT_EQ(texts[131], " Flash Erasing Sector 131/131");
  EXPECT_EQ(texts[132], "Sending block 3 of 3");
}

TEST(ProgramFlash, RefusedBlocksAreSentAgain) {
  ImageFile file(Pattern(4 * 32768), true);
  // NAK for block 1 once, for block 2 twice; the report is read again each time.
  int reports = 0;
  Programming p([&](size_t message, const Bytes &) -> std::vector<Bytes> {
    Bytes refused = EraseReportOk;
    refused.push_back(Nak);
    switch (message) {
    case 1: return {{Nak}};                    // block 1
    case 3: case 4: ++reports; return {refused}; // block 2, refused after its report
    case 5: ++reports; return {EraseReportOk};   // block 2 taken; ready for block 3
    default: return {{Ack}};
    }
  });
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(p.Panel->LastText(), Done);
  EXPECT_EQ(reports, 3);
  EXPECT_TRUE(p.Panel->Saw("Re-sending block 1 of 4"));
  auto texts = p.Panel->Texts;
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Re-sending block 2 of 4"), 2);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), " Flash Erasing Sector 131/131"), 3);
  ASSERT_EQ(p.Frames.size(), 7u); // 1, 1, 2, 2, 2, 3, 4
  EXPECT_EQ(p.Frames[0], p.Frames[1]);
  EXPECT_EQ(p.Frames[2], p.Frames[4]);
  p.Frames.erase(p.Frames.begin() + 2, p.Frames.begin() + 4);
  p.Frames.erase(p.Frames.begin());
  EXPECT_EQ(Reassembled(p.Frames), Pattern(4 * 32768));
}

TEST(ProgramFlash, NakToTheStartHeaderIsFollowedByTheVerdict) {
  ImageFile file(Pattern(3 * 32768), true);
  Programming p([](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 0)
      return {{Nak}, {Ack}};
    return {{Ack}};
  });
  ASSERT_TRUE(p.Finish());
  EXPECT_TRUE(p.Panel->Saw("Re-sending block 0 of 3"));
  EXPECT_TRUE(p.Frames.empty());
  EXPECT_EQ(p.Panel->LastText(), Done);
}

TEST(ProgramFlash, NakVerdictShowsTheErrorRecord) {
  ImageFile file(Pattern(2 * 32768), true);
  Programming p([](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 2)
      return {{Nak}, {0, 0, 0, 3, 0, 0, 0, 0x80}};
    return {{Ack}};
  });
  ASSERT_TRUE(p.Finish());
  auto texts = p.TextsFrom("Waiting for FLASH to erase");
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], "FLASH programming error");
  EXPECT_EQ(texts[2], "ERROR FLASH programming error (C:3, S:0x00000080) (0)");
  EXPECT_EQ(p.Panel->FinalStopCode, 0u);
  EXPECT_NE(p.Panel->FinalFileError, 0u);
}

TEST(ProgramFlash, NakForTheLastBlockIsTheVerdict) {
  ImageFile file(Pattern(32768 + 10), true);
  Programming p([](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 2)
      return {{Nak}, {0, 0, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 0x30}};
    return {{Ack}};
  });
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(p.Frames.size(), 2u); // not sent again
  EXPECT_EQ(p.Panel->LastText(), "ERROR FLASH programming error (C:1, S:0x00000030) (0)");
}

TEST(ProgramFlash, FailedSectorEndsTheStepOnEveryChannel) {
  for (int channel : {1, 8}) {
    ImageFile file(Pattern(3 * 32768), true);
    WorkerHarness h;
    for (int i = 1; i < channel; ++i)
      h.AddPanel("");
    TestPanel &panel = h.AddPanel("COM7");
    auto port = std::make_unique<FakeSerialPort>();
    auto line = Handset(*port, [](size_t message, const Bytes &) -> std::vector<Bytes> {
      if (message == 2) {
        Bytes report(6, Ack);
        report.push_back(Nak);
        return {report};
      }
      return {{Ack}};
    });
    h.Start(channel, std::move(port));
    ASSERT_TRUE(h.ServeUntilAllEnded());
    auto &t = panel.Texts;
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], " Flash Eraseing Sector 7/131 Fail !!") << "channel " << channel;
    EXPECT_EQ(t.back(), "ERROR Flash Erase Fail !! (0)");
    EXPECT_EQ(panel.FinalStopCode, StopCodeGeneralFailure);
  }
}

TEST(ProgramFlash, StopDuringTheEraseReportReadsNoVerdict) {
  ImageFile file(Pattern(3 * 32768), true);
  Programming p([](size_t message, const Bytes &) -> std::vector<Bytes> {
    if (message == 2)
      return {Bytes(20, Ack)}; // the rest of the report never comes
    return {{Ack}};
  });
  ASSERT_TRUE(p.H.ServeUntil([&] { return p.Panel->Saw(" Flash Erasing Sector 20/131"); }));
  p.H.Worker(1)->RequestStop();
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(p.Panel->LastText(), "COMM Closed");
  EXPECT_FALSE(p.Panel->Saw(" Flash Erasing Sector 21/131"));
  EXPECT_EQ(p.Frames.size(), 2u);
}

TEST(ProgramFlash, MissingImageFileSendsNothing) {
  // The load of a file that is not there makes no image ready.
  std::string error;
  LoadedImageReady.Set(ReadImageBytes("/tmp/kestrune-no-such-image.bin", {},
                                       "/tmp/kestrune-no-such-image.bin", true, error));
  EXPECT_EQ(error, "ERROR: Cannot read BIN file (2)");
  Programming p(Healthy(1));
  ASSERT_TRUE(p.Finish());
  EXPECT_EQ(p.Panel->LastText(), "ERROR 해당 BIN file 을 찾을 수 없습니다. (2)");
  EXPECT_EQ(p.Line->Writes.back(), Bytes{0x21}); // the flash type request was the last
}

} // namespace
