// Sending the plan's image to the RAM program in 32 KiB blocks: start header, block
// frames built in place, the erase report after the second block, blocks
// sent again when refused, and the handset's verdict.
#include "engine/CommsThread.h"
#include "engine/WireBytes.h"
#include "engine/RamProgram.h"
#include "image/ByteOrder.h"
#include "image/HexText.h"

#include <algorithm>
#include <cstring>

namespace kestrune {
namespace {

constexpr uint8_t ReceivePreset = 0xDE;
constexpr uint64_t AddressSpaceEnd = uint64_t(1) << 32;
// A run whose plan has no image reports it as the file not found (ENOENT
// and ERROR_FILE_NOT_FOUND are both 2).
constexpr uint32_t MissingImageCode = 2;

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
  // The image is checked before anything goes to the handset: a missing
  // image must not leave the RAM program waiting for blocks that never come.
  if (!Plan.Image) {
    LastError = MissingImageCode;
    ReportCommError("해당 BIN file 을 찾을 수 없습니다.");
    return;
  }
  // The plan's bytes, read once by the loader and never written again:
  // every block and every unit of a batch sends exactly them.
  const uint8_t *const image = Plan.Image->Data();
  const uint64_t imageLength = Plan.Image->DataSize();
  // Frames name the flash address of their data: the image's start address
  // (from the .bif header; a .bin starts at 0) plus the offset in the image.
  const uint32_t startAddress = Plan.Image->StartAddress;
  const uint64_t blockTotal = (imageLength + ProgramBlockSize - 1) / ProgramBlockSize;
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

  WriteBigEndian16(TxBuffer, uint32_t(blockTotal));
  WriteComm(TxBuffer, 2);
  WriteBigEndian32(TxBuffer, ProgramBlockSize);
  WriteComm(TxBuffer, 4);
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
      lastCount = uint32_t(std::min<uint64_t>(ProgramBlockSize, bytesLeft));
      bytesLeft -= lastCount;
      if (lastCount == 0)
        continue;
      if (Plan.Values && !ValuesClaimed &&
          Plan.Values->LowestOffset() < uint64_t(blockOffset) + lastCount) {
        if (!ClaimUnitValues())
          continue;
        // A stop that came while the ledger answered sends nothing more:
        // the values go back for the next unit.
        if (StopCode != StopCodeRunning)
          continue;
      }
      // The run's own copy of the block, with the unit's values written in
      // before its sum; a re-send sends this same copy.
      std::memcpy(TxBuffer + FrameHeaderSize, image + blockOffset, lastCount);
      if (ValuesClaimed)
        PatchBlock(TxBuffer + FrameHeaderSize, blockOffset, lastCount, ValueClaim.Patches);
      WriteBigEndian32(TxBuffer + FrameAddressAt, startAddress + blockOffset);
      uint16_t sum = 0;
      for (uint32_t i = FrameAddressAt; i < FrameHeaderSize + lastCount; ++i)
        sum = uint16_t(sum + TxBuffer[i]);
      WriteBigEndian16(TxBuffer + FrameLengthAt, lastCount);
      WriteBigEndian16(TxBuffer + FrameSumAt, sum);
      ++blocksSent;
      Panel.SetProgressPosition(uint32_t(blocksSent));
      ShowStatus("Sending block " + std::to_string(blocksSent) + ofTotal);
    } else {
      // A handset that refuses one block for ever would keep the line busy
      // with re-sends that never end.
      const uint32_t allowed = Plan.Limits.Resends;
      if (allowed != 0 && ++resends > allowed) {
        LastError = 0;
        ReportCommError("Handset refused block " + std::to_string(blocksSent) + " after " +
                        std::to_string(allowed) + " re-sends");
        continue;
      }
      ++LastReport.BlocksResent;
      ShowStatus("Re-sending block " + std::to_string(blocksSent) + ofTotal);
    }
    if (lastCount != 0 && ValuesClaimed && BlockHoldsPatch(blockOffset, lastCount, ValueClaim.Patches))
      ValuesSent = true; // from the first byte written, the unit may hold them
    if (lastCount != 0 && WriteComm(TxBuffer, FrameHeaderSize + lastCount) != 0) {
      LastReport.BytesSent += lastCount;
      Panel.SetBytesSent(uint64_t(blockOffset) + lastCount, imageLength);
    }
  } while (lastCount == ProgramBlockSize && uint64_t(blocksSent) < blockTotal && FileError == 0 &&
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
    uint32_t failures = ReadBigEndian32(RxBuffer);
    uint32_t status = ReadBigEndian32(RxBuffer + 4);
    if (BytesRead == 8) {
      LastReport.FailureRecord.emplace();
      std::copy(RxBuffer, RxBuffer + 8, LastReport.FailureRecord->begin());
    }
    ReportFileError("FLASH programming error (C:" + std::to_string(failures) + ", S:0x" +
                    UpperHex(status, 8) + ")");
  }
}

} // namespace kestrune
