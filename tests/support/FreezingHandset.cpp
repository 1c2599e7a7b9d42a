#include "tests/support/FreezingHandset.h"

#include "engine/RamProgram.h"
#include "engine/WireBytes.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace kestrune::test {
namespace {

// Host bytes from the RAM program header on after which the handset answers:
// header and image, speed message, identification request, map command,
// segment map with the flash type request, start header.
constexpr uint32_t AfterRamProgram = 13 + RamProgramLength;
constexpr uint32_t AfterIdRequest = AfterRamProgram + 6 + 2;
constexpr uint32_t AfterMapCommand = AfterIdRequest + 6;
constexpr uint32_t AfterFlashType = AfterMapCommand + 2 + 131 * 4 + 1;
constexpr uint32_t AfterStartHeader = AfterFlashType + 7;

} // namespace

FreezingHandset::FreezingHandset() : Thread([this] { Serve(); }) {}

FreezingHandset::~FreezingHandset() {
  Quit = true;
  Thread.join();
  Line.CloseMaster();
}

uint32_t FreezingHandset::Unread() const {
  int pending = 0;
  ::ioctl(Line.Master(), FIONREAD, &pending);
  return uint32_t(pending);
}

void FreezingHandset::Serve() {
  bool called = false; // the "C" went out
  bool loading = false; // the RAM program header began
  uint32_t counted = 0;
  while (!Quit && !IsFrozen) {
    pollfd p{Line.Master(), POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
      continue;
    // Never read past the start header: what follows must stay in the line.
    uint8_t buffer[4096];
    size_t want = loading ? std::min<size_t>(sizeof buffer, AfterStartHeader - counted) : 1;
    ssize_t n = ::read(Line.Master(), buffer, want);
    if (n <= 0)
      continue;
    if (!loading) {
      if (!called && buffer[0] == BootCallByte) {
        Line.Write(BootAnswerByte);
        called = true;
      } else if (called && buffer[0] == RamProgramCommand) {
        loading = true;
        counted = 1;
      }
      continue;
    }
    uint32_t before = counted;
    counted += uint32_t(n);
    auto passed = [&](uint32_t mark) { return before < mark && counted >= mark; };
    if (passed(AfterRamProgram))
      Line.Write(AckByte);
    if (passed(AfterIdRequest)) {
      // One identification byte per host data wait (41 ms each).
      for (int i = 0; i < 10 && !Quit; ++i) {
        Line.Write(0x42);
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
      }
    }
    if (passed(AfterMapCommand))
      Line.Write(MapAnswerByte);
    if (passed(AfterFlashType))
      Line.Write(AckByte);
    if (passed(AfterStartHeader)) {
      Line.Write(AckByte); // ready for block 1, which never gets read
      IsFrozen = true;
    }
  }
}

} // namespace kestrune::test
