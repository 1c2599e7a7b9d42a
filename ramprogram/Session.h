/* What the RAM program knows of its run: the flash it found, the segment
   map the host sent, and the record of failed flash operations. */
#ifndef RAMPROGRAM_SESSION_H
#define RAMPROGRAM_SESSION_H

#include <stdint.h>

#include "ramprogram/FlashParts.h"

#define MAX_SEGMENTS 256u

struct Session {
  uint32_t FlashId;
  const struct FlashPart *Part; /* 0: the flash is not supported */
  uint32_t SegmentCount;        /* entries of the host's map */
  uint32_t Segments[MAX_SEGMENTS];
  uint32_t MapMatches; /* the map fits the flash found */
  uint32_t Failures;     /* flash operations that ended with an error */
  uint32_t FirstFailure; /* the status of the first of them */
};

/* Counts a failed flash operation; the first one's status is kept. */
void SessionRecordFailure(struct Session *session, uint32_t status);

/* Messages from the line speed up to the flash type answer; nonzero when
   the flash was accepted. */
int RunHandshake(struct Session *session);
/* Start header, blocks, erase, programming and the verdict. */
void RunDownload(struct Session *session);

#endif
