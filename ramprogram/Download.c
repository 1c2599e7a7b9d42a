/* The RAM program's side of the block exchange. Which byte answers which
   message (the host reads them one at a time):

     start header            ACK (ready for block 1); 0 blocks: ACK, ACK
     block 1, not the last   ACK at once: the second buffer is free
     block 2, not the last   erase of the segments (those wholly below the
                             first block's address are kept) with one ACK
                             each for the first 130, then blocks 1 and 2
                             programmed and the ready ACK as the 131st byte
     block 2 refused         the 131 report bytes, then NAK at once; when it
                             comes again the segments are already erased and
                             the report is 131 ACKs
     block k >= 3, not last  programmed, then ACK
     refused block           NAK; the same block comes again
     last block              erase (if not done), program, verdict: ACK, or
                             NAK and the record C, S
     refused last block      NAK and the record: the host never sends the
                             last block again

   A block is the last when it is the announced last one or shorter than
   32 KiB (the host's image ended early). */
#include "ramprogram/Board.h"
#include "ramprogram/Flash.h"
#include "ramprogram/Serial.h"
#include "ramprogram/Session.h"

#define BLOCK_SIZE 32768u
#define START_BYTE 0x01u
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
  block->Length = length;
  block->Good = 0;
  if (length > BLOCK_SIZE) {
    SerialDrain(BAD_FRAME_QUIET_MICROS);
    return;
  }
  block->Good = length != 0 && SerialReadSummed(block->Data, length, sum) == expected;
}

/* Programs the block word by word and reads each word back; a word that
   reads back wrong counts as failed with the status the flash gave (ready,
   no error). Words of 0xFFFF are skipped: the erased flash holds them. A
   half-covered word is completed with 0xFF, which leaves that byte as it
   is. The part of a block past the end of the flash is one failed
   operation with status 0. */
static void ProgramBlock(struct Session *session, const struct Block *block) {
  uint32_t start = block->Offset;
  uint32_t length = block->Length;
  if (start >= RH_FLASH_SIZE || length > RH_FLASH_SIZE - start) {
    SessionRecordFailure(session, 0);
    if (start >= RH_FLASH_SIZE)
      return;
    length = RH_FLASH_SIZE - start;
  }
  uint32_t end = start + length;
  for (uint32_t address = start & ~1u; address < end; address += 2) {
    uint32_t low = address >= start ? block->Data[address - start] : 0xFFu;
    uint32_t high = address + 1 < end ? block->Data[address + 1 - start] : 0xFFu;
    uint32_t word = low | high << 8;
    if (word == 0xFFFFu)
      continue;
    uint32_t status = FlashProgramWord(address, word);
    if ((status & RH_FLASH_ST_ERRORS) == 0) {
      FlashReadArray();
      if (FlashReadWord(address) == word)
        continue;
    }
    SessionRecordFailure(session, status);
  }
  FlashReadArray();
}

/* The image's first address is that of its first block. A segment that
   lies wholly below it keeps what it holds (a boot area below the image)
   and is not erased; an image from address 0 erases every segment. */
static int KeepsSegment(const struct Session *session, uint32_t i, uint32_t from) {
  uint32_t end = i + 1 < session->SegmentCount ? session->Segments[i + 1] : RH_FLASH_SIZE;
  return end <= from;
}

/* The erase report: each of the first 130 segments is answered with an
   ACK once erased (or at once when it is kept); the caller sends the 131st
   byte. A failed segment is answered with a NAK instead, and the run ends
   there (returns 0). When the flash is already erased the 130 ACKs go out
   at once. */
static int EraseWithReport(struct Session *session, int *erased, uint32_t from) {
  if (*erased) {
    for (uint32_t i = 1; i < session->SegmentCount; ++i)
      SerialPut(ACK_BYTE);
    return 1;
  }
  for (uint32_t i = 0; i < session->SegmentCount; ++i) {
    if (KeepsSegment(session, i, from)) {
      if (i + 1 < session->SegmentCount)
        SerialPut(ACK_BYTE);
      continue;
    }
    uint32_t status = FlashEraseSegment(session->Segments[i]);
    if (status & RH_FLASH_ST_ERRORS) {
      SessionRecordFailure(session, status);
      SerialPut(NAK_BYTE);
      return 0;
    }
    if (i + 1 < session->SegmentCount)
      SerialPut(ACK_BYTE);
  }
  FlashReadArray();
  *erased = 1;
  return 1;
}

/* Without a report: stops at the first segment that fails (returns 0). */
static int EraseSilently(struct Session *session, uint32_t from) {
  for (uint32_t i = 0; i < session->SegmentCount; ++i) {
    if (KeepsSegment(session, i, from))
      continue;
    uint32_t status = FlashEraseSegment(session->Segments[i]);
    if (status & RH_FLASH_ST_ERRORS) {
      SessionRecordFailure(session, status);
      return 0;
    }
  }
  FlashReadArray();
  return 1;
}

static void SendFailure(const struct Session *session) {
  SerialPut(NAK_BYTE);
  SerialPut32(session->Failures);
  SerialPut32(session->FirstFailure);
}

static void SendVerdict(const struct Session *session) {
  if (session->Failures == 0)
    SerialPut(ACK_BYTE);
  else
    SendFailure(session);
}

void RunDownload(struct Session *session) {
  uint32_t total = SerialGet16();
  uint32_t blockSize = SerialGet32();
  if (SerialGet() != START_BYTE || blockSize != BLOCK_SIZE) {
    /* The buffers take 32 KiB blocks only: refused, and the verdict at once
       so that the host's verdict wait ends. */
    SerialPut(NAK_BYTE);
    SendFailure(session);
    return;
  }
  SerialPut(ACK_BYTE);
  if (total == 0) {
    SerialPut(ACK_BYTE);
    return;
  }
  struct Block blocks[2] = {{Buffers[0], 0, 0, 0}, {Buffers[1], 0, 0, 0}};
  int erased = 0;
  uint32_t k = 1;
  struct Block *block;
  for (;;) {
    block = &blocks[(k - 1) & 1];
    ReceiveBlock(block);
    int last = k >= total || block->Length < BLOCK_SIZE;
    if (!block->Good) {
      if (last) {
        SendFailure(session);
        return;
      }
      if (k == 2) {
        if (!EraseWithReport(session, &erased, blocks[0].Offset))
          return;
        SerialPut(ACK_BYTE);
      }
      SerialPut(NAK_BYTE);
      continue;
    }
    if (last)
      break;
    if (k == 2) {
      if (!EraseWithReport(session, &erased, blocks[0].Offset))
        return;
      ProgramBlock(session, &blocks[0]);
      ProgramBlock(session, &blocks[1]);
    } else if (k >= 3) {
      ProgramBlock(session, block);
    }
    SerialPut(ACK_BYTE);
    ++k;
  }
  if (!erased && !EraseSilently(session, blocks[0].Offset)) {
    SendFailure(session);
    return;
  }
  if (k == 2)
    ProgramBlock(session, &blocks[0]);
  ProgramBlock(session, block);
  SendVerdict(session);
}
