/* The RAM program: started by the boot ROM at the start of internal RAM
   with the UART at 28800 baud, 8N2. Its first ACK tells the host it runs;
   it configures itself at the host's request, programs the flash and gives
   the handset back to the boot ROM. */
#include "ramprogram/Board.h"
#include "ramprogram/Flash.h"
#include "ramprogram/Serial.h"
#include "ramprogram/Session.h"

static struct Session TheSession;

void RamMain(void) __attribute__((noreturn));

void RamMain(void) {
  SerialPut(ACK_BYTE);
  TheSession.FlashId = FlashIdentify();
  TheSession.Part = FlashFindPart(TheSession.FlashId);
  if (RunHandshake(&TheSession))
    RunDownload(&TheSession);
  SerialFlush();
  ((void (*)(void))RH_BOOT_ROM_ENTRY)();
  for (;;) {
  }
}
