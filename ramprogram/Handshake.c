/* The RAM program's side of the configuration exchange: line speed,
   identification, segment map and the flash type answer. */
#include "ramprogram/Board.h"
#include "ramprogram/Clock.h"
#include "ramprogram/Serial.h"
#include "ramprogram/Session.h"

#define OP_IDENTIFY 0x00u
#define OP_LINE_SPEED 0x01u
#define OP_SEGMENT_MAP 0x02u
#define MAP_ANSWER 0x01u
#define ID_BYTE_GAP_MICROS 110000u

/* Ten bytes, each 110 ms after the one before (the host reads them in ten
   waits of 41 ms, each of which must take exactly one): the manufacturer
   and device code the flash gives, then the size and the segment count of
   the part this program is built for. */
static void SendIdentification(const struct Session *session) {
  uint8_t bytes[10];
  const struct FlashPart *part = FlashDefaultPart();
  uint32_t size = part->Size;
  uint32_t count = FlashPartSegmentCount(part);
  for (int i = 0; i < 4; ++i) {
    bytes[i] = (uint8_t)(session->FlashId >> (24 - 8 * i));
    bytes[4 + i] = (uint8_t)(size >> (24 - 8 * i));
  }
  bytes[8] = (uint8_t)(count >> 8);
  bytes[9] = (uint8_t)count;
  for (uint32_t i = 0; i < sizeof bytes; ++i) {
    uint32_t sent = ClockNow();
    SerialPut(bytes[i]);
    if (i + 1 < sizeof bytes)
      ClockSleepUntil(sent + ID_BYTE_GAP_MICROS);
  }
}

/* Entry count, then the entries; each is checked against the flash found. */
static void ReceiveSegmentMap(struct Session *session) {
  uint32_t count = SerialGet16();
  const struct FlashPart *part = session->Part;
  uint32_t matches = part != 0 && count == FlashPartSegmentCount(part);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t address = SerialGet32();
    if (i < MAX_SEGMENTS)
      session->Segments[i] = address;
    if (matches && address != FlashPartSegmentAddress(part, i))
      matches = 0;
  }
  session->SegmentCount = count;
  session->MapMatches = matches;
}

int RunHandshake(struct Session *session) {
  int haveMap = 0;
  for (;;) {
    if (SerialGet() != ACK_BYTE)
      continue;
    if (haveMap)
      break; /* the flash type request */
    switch (SerialGet()) {
    case OP_LINE_SPEED:
      SerialSkip(3);
      SerialSetSpeedCode(SerialGet());
      break;
    case OP_IDENTIFY:
      SendIdentification(session);
      break;
    case OP_SEGMENT_MAP:
      SerialSkip(4);
      SerialPut(MAP_ANSWER);
      ReceiveSegmentMap(session);
      haveMap = 1;
      break;
    default:
      break;
    }
  }
  int accepted = session->MapMatches;
  SerialPut(accepted ? ACK_BYTE : NAK_BYTE);
  return accepted;
}
