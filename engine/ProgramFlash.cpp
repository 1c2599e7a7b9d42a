// Sending the image to the RAM program in 32 KiB blocks: start header, block
// frames built in place, the erase report after the second block, blocks
// sent again when refused, and the handset's verdict.
#include "engine/CommsThread.h"
#include "engine/WireBytes.h"
#include "engine/RamProgram.h"
#include "image/ImageState.h"

#include <algorithm>
#include <cstdio>

namespace kestrune {
namespace {

constexpr uint8_t ReceivePreset = 0xDE;
constexpr uint32_t BifHeaderSize = 8;
// The start header announces the block total in 16 bits.
constexpr uint64_t MaxBlockTotal = 0xFFFF;
constexpr uint64_t AddressSpaceEnd = uint64_t(1) << 32;

uint32_t BigEndian32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint32_t LittleEndian32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

} // namespace

void TCommsThread::WaitForAckOrNak() {
  do {
    BytesRead = ReadComm(RxBuffer, 1);
  } while (RxBuffer[0] != AckByte && RxBuffer[0] != NakByte && StopCode == StopCodeRunning &&
           !HandsetSilent());
}

void TCommsThread::WaitForRecord() {
  do {
    BytesRead = ReadComm(RxBuffer, 8);
  } while (BytesRead != 8 && StopCode == StopCodeRunning && !HandsetSilent());
}

// Reads the 131 per-segment erase results. False when a segment failed: the
// failure is reported and the step must end without a verdict.
bool TCommsThread::RunEraseReport() {
  const std::string total = std::to_string(SegmentCount);
  Panel.SetRunPhase(RunPhase::Erasing);
  // A handset may erase the whole flash before its first report byte.
  Watch.Begin("erase report", AnswerWatch::Limit::Erase);
  for (uint32_t s = 1; s <= SegmentCount; ++s) {
    RxBuffer[0] = ReceivePreset;
    WaitForAckOrNak();
    if (StopCode != StopCodeRunning)
      continue;
    if (RxBuffer[0] == NakByte) {
      ShowStatus(" Flash Eraseing Sector " + std::to_string(s) + "/" + total + " Fail !!");
      ReportCommError("Flash Erase Fail !!");
      return false;
    }
    ShowStatus(" Flash Erasing Sector " + std::to_string(s) + "/" + total);
  }
  Panel.SetRunPhase(RunPhase::Programming);
  return true;
}

void TCommsThread::ProgramFlash() {
  ShowStatus("Starting flash write");
  const bool raw = ImageIsRawBinary != 0;
  // The file is checked before anything goes to the handset: a missing image
  // must not leave the RAM program waiting for blocks that never come.
  if (!ImageFile->Open(ImageFileName.Get())) {
    LastError = ImageFile->LastError();
    ReportCommError("해당 BIN file 을 찾을 수 없습니다.");
    return;
  }
  struct CloseOnExit {
    ImageFileReader &File;
    ~CloseOnExit() { File.Close(); }
  } closeOnExit{*ImageFile};

  // The size is read once: the blocks announced, and the bytes each block
  // must bring, follow from it even if the file changes during the run.
  uint64_t imageLength = ImageFile->Size();
  if (imageLength == ImageFileReader::UnknownSize) {
    LastError = ImageFile->LastError();
    ReportFileError("Could not read from BIN file");
    return;
  }
  // Frames name the flash address of their data: the image's start address
  // (from the .bif header; a .bin starts at 0) plus the offset in the image.
  uint32_t startAddress = 0;
  if (!raw) {
    uint8_t header[BifHeaderSize];
    uint32_t got = 0;
    bool read = imageLength >= BifHeaderSize && ImageFile->Read(header, BifHeaderSize, got);
    if (!read || got < BifHeaderSize) {
      LastError = read || imageLength < BifHeaderSize ? EndOfFileErrorCode()
                                                      : ImageFile->LastError();
      ReportFileError("Could not read from BIN file");
      return;
    }
    imageLength -= BifHeaderSize;
    startAddress = LittleEndian32(header);
  }
  const uint64_t blockTotal = (imageLength + BlockSize - 1) / BlockSize;
  if (blockTotal > MaxBlockTotal) {
    LastError = 0;
    ReportFileError("Image has more than " + std::to_string(MaxBlockTotal) + " blocks");
    return;
  }
  if (startAddress + imageLength > AddressSpaceEnd) {
    LastError = 0;
    ReportFileError("Image runs past address 0xFFFFFFFF");
    return;
  }
  SleepMs(2);
  Panel.SetProgressMaximum(uint32_t(blockTotal));
  Panel.SetRunPhase(RunPhase::Programming);
  Panel.SetBytesSent(0, imageLength);

  WriteBytes({uint8_t(blockTotal >> 8), uint8_t(blockTotal)});
  WriteBytes({uint8_t(BlockSize >> 24), uint8_t(BlockSize >> 16), uint8_t(BlockSize >> 8),
              uint8_t(BlockSize)});
  WriteBytes({StartByte});

  uint32_t lastCount = 0;
  int32_t blocksSent = 0;
  uint32_t resends = 0; // of the block last sent, in a row
  uint32_t blockOffset = 0;
  uint64_t bytesLeft = imageLength;
  const std::string ofTotal = " of " + std::to_string(blockTotal);
  do {
    RxBuffer[0] = ReceivePreset;
    if (blocksSent == 2 && !RunEraseReport())
      return;
    // The reply wait keeps the byte as it is: after an erase report its last
    // status byte may already be the ready answer for the next block.
    Watch.Begin(blocksSent == 0 ? std::string("answer to the start header")
                                : "answer to block " + std::to_string(blocksSent));
    WaitForAckOrNak();
    if (StopCode != StopCodeRunning)
      continue;
    if (RxBuffer[0] == AckByte) {
      resends = 0;
      blockOffset += lastCount;
      const auto wanted = uint32_t(std::min<uint64_t>(BlockSize, bytesLeft));
      uint32_t got = 0;
      if (!ImageFile->Read(TxBuffer + TxHeaderSize, wanted, got)) {
        LastError = ImageFile->LastError();
        ReportFileError("Could not read from BIN file");
        got = 0;
      } else if (got < wanted) {
        // The file shrank since the run began: a short block would be taken
        // as the image's last one and the rest never programmed.
        LastError = EndOfFileErrorCode();
        ReportFileError("Could not read from BIN file");
        got = 0;
      }
      lastCount = got;
      bytesLeft -= got;
      if (lastCount == 0)
        continue;
      const uint32_t address = startAddress + blockOffset;
      uint16_t sum = 0;
      TxBuffer[4] = uint8_t(address >> 24);
      TxBuffer[5] = uint8_t(address >> 16);
      TxBuffer[6] = uint8_t(address >> 8);
      TxBuffer[7] = uint8_t(address);
      for (uint32_t i = 4; i < TxHeaderSize + lastCount; ++i)
        sum = uint16_t(sum + TxBuffer[i]);
      TxBuffer[0] = uint8_t(lastCount >> 8);
      TxBuffer[1] = uint8_t(lastCount);
      TxBuffer[2] = uint8_t(sum >> 8);
      TxBuffer[3] = uint8_t(sum);
      ++blocksSent;
      Panel.SetProgressPosition(uint32_t(blocksSent));
      ShowStatus("Sending block " + std::to_string(blocksSent) + ofTotal);
    } else {
      // A handset that refuses one block for ever would keep the line busy
      // with re-sends that never end.
      if (ResendsAllowed != 0 && ++resends > ResendsAllowed) {
        LastError = 0;
        ReportCommError("Handset refused block " + std::to_string(blocksSent) + " after " +
                        std::to_string(ResendsAllowed) + " re-sends");
        continue;
      }
      ++LastReport.BlocksResent;
      ShowStatus("Re-sending block " + std::to_string(blocksSent) + ofTotal);
    }
    if (lastCount != 0 && WriteComm(TxBuffer, TxHeaderSize + lastCount) != 0) {
      LastReport.BytesSent += lastCount;
      Panel.SetBytesSent(uint64_t(blockOffset) + lastCount, imageLength);
    }
  } while (lastCount == BlockSize && uint64_t(blocksSent) < blockTotal && FileError == 0 &&
           StopCode == StopCodeRunning);

  if (FileError != 0 || StopCode != StopCodeRunning)
    return;
  // Small images are erased only now, after their last block.
  bool eraseFollows = blocksSent == 2 || (blockTotal == 1 && blocksSent == 1);
  Panel.SetRunPhase(eraseFollows ? RunPhase::Erasing : RunPhase::Verdict);
  if (eraseFollows)
    ShowStatus("Waiting for FLASH to erase");
  RxBuffer[0] = ReceivePreset;
  // After a one- or two-block image the verdict follows a whole-flash erase.
  Watch.Begin("verdict", eraseFollows ? AnswerWatch::Limit::Erase : AnswerWatch::Limit::Answer);
  WaitForAckOrNak();
  if (RxBuffer[0] == AckByte) {
    VerdictPassed = true;
    ShowStatus("다운로드 완료 !!!!!!!!!!!!!!!!!");
  } else if (RxBuffer[0] == NakByte) {
    ShowStatus("FLASH programming error");
    Watch.Begin("error record");
    WaitForRecord();
    uint32_t failures = BigEndian32(RxBuffer);
    uint32_t status = BigEndian32(RxBuffer + 4);
    if (BytesRead == 8) {
      LastReport.FailureRecord.emplace();
      std::copy(RxBuffer, RxBuffer + 8, LastReport.FailureRecord->begin());
    }
    ReportFileError("FLASH programming error (C:" + std::to_string(failures) + ", S:0x" +
                    Hex8(status) + ")");
  }
}

} // namespace kestrune
