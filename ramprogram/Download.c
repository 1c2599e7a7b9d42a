/* The RAM program's side of the block exchange: two 32 KiB receive
   buffers used in turn, the block sum check, the erase of every segment of
   the map (reported segment by segment once a second block has come, when
   the image has three or more), programming with a read-back of every word,
   and the verdict. */
#include "ramprogram/Board.h"
#include "ramprogram/Flash.h"
#include "ramprogram/Serial.h"
#include "ramprogram/Session.h"

#define BLOCK_SIZE 32768u
#define BAD_FRAME_QUIET_MICROS 20000u

struct Block {
  uint8_t *Data;
  uint32_t Length;
  uint32_t Offset;
  uint32_t Good; /* the block sum matched */
};

static uint8_t Buffers[2][BLOCK_SIZE];

void SessionRecordFailure(struct Session *session, uint32_t status) {
  if (session->Failures++ == 0)
    session->FirstFailure = status;
}

/* Frame: length, block sum, offset (big-endian), then the data. The sum
   covers the four offset bytes and the data. A length the buffer cannot
   take leaves the rest of the frame unknown: it is drained from the line. */
static void ReceiveBlock(struct Block *block) {
  uint8_t offset[4];
  uint32_t length = SerialGet16();
  uint32_t expected = SerialGet16();
  uint32_t sum = SerialReadSummed(offset, 4, 0);
  block->Offset = (uint32_t)offset[0] << 24 | (uint32_t)offset[1] << 16 |
                  (uint32_t)offset[2] << 8 | offset[3];
  block->Good = 0;
  if (length == 0 || length > BLOCK_SIZE) {
    block->Length = 0;
    SerialDrain(BAD_FRAME_QUIET_MICROS);
    return;
  }
  block->Length = length;
  block->Good = SerialReadSummed(block->Data, length, sum) == expected;
}

static uint32_t ByteAt(const struct Block *block, uint32_t address) {
  uint32_t index = address - block->Offset;
  return index < block->Length ? block->Data[index] : 0xFFu;
}

/* Programs the block word by word (a half-covered word is completed with
   0xFF, which leaves the flash byte as it is) and reads every word back. A
   block reaching past the flash is one failed operation with status 0. */
static void ProgramBlock(struct Session *session, const struct Block *block) {
  uint32_t end = block->Offset + block->Length;
  if (end > RH_FLASH_SIZE || end < block->Offset) {
    SessionRecordFailure(session, 0);
    return;
  }
  for (uint32_t address = block->Offset & ~1u; address < end; address += 2) {
    uint32_t lowIn = address - block->Offset < block->Length;
    uint32_t highIn = address + 1 - block->Offset < block->Length;
    uint32_t word = ByteAt(block, address) | ByteAt(block, address + 1) << 8;
    uint32_t status = FlashProgramWord(address, word);
    if (status & RH_FLASH_ST_ERRORS) {
      SessionRecordFailure(session, status);
      continue;
    }
    FlashReadArray();
    uint32_t mask = (lowIn ? 0x00FFu : 0) | (highIn ? 0xFF00u : 0);
    if ((FlashReadWord(address) ^ word) & mask)
      SessionRecordFailure(session, status);
  }
  FlashReadArray();
}

/* Erases the segments of the map. With report set, every segment but the
   last is answered with an ACK once erased, and a failed one with a NAK,
   after which nothing more is erased; returns 0 then. */
static int EraseFlash(struct Session *session, int report) {
  for (uint32_t i = 0; i < session->SegmentCount; ++i) {
    uint32_t status = FlashEraseSegment(session->Segments[i]);
    if (status & RH_FLASH_ST_ERRORS) {
      SessionRecordFailure(session, status);
      if (report) {
        SerialPut(NAK_BYTE);
        return 0;
      }
      continue;
    }
    if (report && i + 1 < session->SegmentCount)
      SerialPut(ACK_BYTE);
  }
  FlashReadArray();
  return 1;
}

static void SendVerdict(const struct Session *session) {
  if (session->Failures == 0) {
    SerialPut(ACK_BYTE);
    return;
  }
  SerialPut(NAK_BYTE);
  SerialPut32(session->Failures);
  SerialPut32(session->FirstFailure);
}

void RunDownload(struct Session *session) {
  uint32_t total = SerialGet16();
  SerialSkip(4 + 1); /* block size and start byte */
  SerialPut(ACK_BYTE);
  struct Block blocks[2] = {{Buffers[0], 0, 0, 0}, {Buffers[1], 0, 0, 0}};
  int erased = 0;
  uint32_t k = 1;
  while (k <= total) {
    struct Block *block = &blocks[(k - 1) & 1];
    struct Block *previous = &blocks[k & 1];
    ReceiveBlock(block);
    if (k == 2 && total >= 3) {
      /* The erase report: 130 segment answers, then the ready answer once
         block 1 is programmed, as its 131st byte. */
      if (!erased) {
        if (!EraseFlash(session, 1))
          return;
        erased = 1;
        ProgramBlock(session, previous);
      } else {
        for (uint32_t i = 1; i < session->SegmentCount; ++i)
          SerialPut(ACK_BYTE);
      }
      SerialPut(ACK_BYTE);
      if (block->Good)
        ++k;
      else
        SerialPut(NAK_BYTE);
      continue;
    }
    if (!block->Good) {
      SerialPut(NAK_BYTE);
      continue;
    }
    if (k == total)
      break;
    if (k >= 3)
      ProgramBlock(session, previous);
    SerialPut(ACK_BYTE);
    ++k;
  }
  if (total != 0) {
    if (!erased)
      EraseFlash(session, 0);
    if (total >= 2)
      ProgramBlock(session, &blocks[total & 1]);
    ProgramBlock(session, &blocks[(total - 1) & 1]);
  }
  SendVerdict(session);
}
