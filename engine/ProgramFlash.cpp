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

uint32_t BigEndian32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
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
  } while (RxBuffer[0] != AckByte && RxBuffer[0] != NakByte && StopCode == StopCodeRunning);
}

void TCommsThread::WaitForRecord() {
  do {
    BytesRead = ReadComm(RxBuffer, 8);
  } while (BytesRead != 8 && StopCode == StopCodeRunning);
}

// Reads the 131 per-segment erase results. False when a segment failed: the
// failure is reported and the step must end without a verdict.
bool TCommsThread::RunEraseReport() {
  const std::string total = std::to_string(SegmentCount);
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

  uint32_t imageLength = ImageFile->Size();
  if (!raw) {
    if (imageLength < BifHeaderSize) {
      LastError = 0;
      ReportFileError("Could not read from BIN file");
      return;
    }
    imageLength -= BifHeaderSize;
  }
  const uint32_t blockTotal = imageLength / BlockSize + (imageLength % BlockSize ? 1 : 0);
  SleepMs(2);
  Panel.SetProgressMaximum(blockTotal);
  if (!raw) {
    uint32_t got = 0;
    ImageFile->Read(RxBuffer + 8, BifHeaderSize, got); // start and end address, not sent
  }

  WriteBytes({uint8_t(blockTotal >> 8), uint8_t(blockTotal)});
  WriteBytes({uint8_t(BlockSize >> 24), uint8_t(BlockSize >> 16), uint8_t(BlockSize >> 8),
              uint8_t(BlockSize)});
  WriteBytes({StartByte});

  uint32_t lastCount = 0;
  int32_t blocksSent = 0;
  uint32_t blockOffset = 0;
  const std::string ofTotal = " of " + std::to_string(blockTotal);
  do {
    RxBuffer[0] = ReceivePreset;
    if (blocksSent == 2 && !RunEraseReport())
      return;
    // The reply wait keeps the byte as it is: after an erase report its last
    // status byte may already be the ready answer for the next block.
    WaitForAckOrNak();
    if (StopCode != StopCodeRunning)
      continue;
    if (RxBuffer[0] == AckByte) {
      blockOffset += lastCount;
      uint32_t got = 0;
      if (!ImageFile->Read(TxBuffer + TxHeaderSize, BlockSize, got)) {
        LastError = ImageFile->LastError();
        ReportFileError("Could not read from BIN file");
        got = 0;
      }
      lastCount = got;
      if (lastCount == 0)
        continue;
      uint16_t sum = 0;
      TxBuffer[4] = uint8_t(blockOffset >> 24);
      TxBuffer[5] = uint8_t(blockOffset >> 16);
      TxBuffer[6] = uint8_t(blockOffset >> 8);
      TxBuffer[7] = uint8_t(blockOffset);
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
      ++LastReport.BlocksResent;
      ShowStatus("Re-sending block " + std::to_string(blocksSent) + ofTotal);
    }
    if (lastCount != 0 && WriteComm(TxBuffer, TxHeaderSize + lastCount) != 0)
      LastReport.BytesSent += lastCount;
  } while (lastCount == BlockSize && uint32_t(blocksSent) < blockTotal && FileError == 0 &&
           StopCode == StopCodeRunning);

  if (FileError != 0 || StopCode != StopCodeRunning)
    return;
  if (blocksSent == 2 || (blockTotal == 1 && blocksSent == 1))
    ShowStatus("Waiting for FLASH to erase");
  RxBuffer[0] = ReceivePreset;
  WaitForAckOrNak();
  if (RxBuffer[0] == AckByte) {
    VerdictPassed = true;
    ShowStatus("다운로드 완료 !!!!!!!!!!!!!!!!!");
  } else if (RxBuffer[0] == NakByte) {
    ShowStatus("FLASH programming error");
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
