// What a virtual handset is told at start: fault injection, flash timing,
// line pacing and tracing. The defaults make a fast, well-behaved handset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune::handset {

// The phases of a run, in order. A handset told to fall silent at a phase
// stops answering when the first host message of that phase arrives.
enum class Phase : uint8_t {
  None,
  Boot,       // the "E" boot call
  RamProgram, // header and image of the RAM program
  Speed,      // the line speed message
  Id,         // the identification request
  Map,        // the map command
  FlashType,  // the flash type request
  Start,      // the start header of the programming exchange
  Blocks,     // the first block frame
  Erase,      // the erase that follows the second block (or the last one)
  Verdict,    // the verdict after the last block
};

const char *PhaseName(Phase phase);
std::optional<Phase> PhaseFromName(const std::string &name);
// "boot, ramprogram, ..." for help texts.
std::string PhaseNames();

// Flash operation times; zero (the default) makes every operation instant.
struct FlashTiming {
  uint32_t LargeEraseUs = 0; // one 128 KiB segment
  uint32_t SmallEraseUs = 0; // one 32 KiB segment
  uint32_t WordProgramUs = 0; // one 16-bit word
};

// Times of a typical 16 MiB x16 NOR part: 0.7 s per 128 KiB block, 0.3 s
// per 32 KiB parameter block, 12 us per word.
FlashTiming RealisticTiming();

// What runs the RAM program the boot ROM loaded: the real program on the
// handset's emulated ARM core, or the model of it in host code.
enum class RamModel : uint8_t { Arm, Host };

struct HandsetOptions {
  RamModel Model = RamModel::Arm;
  // The emulated core is reported as no longer answering after this long
  // without touching its devices while not asleep. Sanitizer builds on a
  // loaded machine can leave the core's thread unscheduled for seconds.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  uint32_t CoreHangMs = 10000;
#else
  uint32_t CoreHangMs = 2000;
#endif
  // A fault of the handset's RAM (emulated core only): the program the
  // boot ROM starts has this 32-bit word at this byte offset.
  struct RamWord {
    uint32_t Offset = 0;
    uint32_t Word = 0;
  };
  std::optional<RamWord> CorruptRam{};
  uint32_t PowerOnDelayMs = 0;    // the boot ROM stays silent this long
  // A production line's swap: after each run the handset is taken away (no
  // answer at all for this long), then a fresh unit with an erased flash is
  // on the line. 0: the same unit stays connected.
  uint32_t SwapAfterRunMs = 0;
  bool Noise = false;             // stray bytes go out before the "C"
  Phase SilentAfter = Phase::None;
  uint8_t MapAnswer = 0x01;       // answer to the map command
  bool UnsupportedFlash = false;  // the flash reports a device the RAM program refuses
  uint32_t NakBlock = 0;          // block number (from 1) refused as if its sum were wrong
  uint32_t NakTimes = 1;          // how often that block is refused
  uint32_t EraseFailSegment = 0;  // segment number (1 to 131) whose erase fails
  uint32_t EraseFailRun = 0;      // only in this run (from 1); 0: in every run
  bool ProgramError = false;      // word programs fail (see below)
  uint32_t ProgramErrorAddress = 0; // the first ProgramErrorCount word programs at
  uint32_t ProgramErrorCount = 1;   // or above this flash address fail
  uint64_t DisconnectAfterBytes = 0; // cut the line after this many RAM program
                                     // and later host bytes (0: never)
  // The line goes dead after this many RAM program and later host bytes:
  // nothing gets through either way, but the port stays (0: never).
  uint64_t CutAfterBytes = 0;
  // A unit that stopped answering is taken off the line after this long, as
  // the operator would, and the swap begins (with a swap time; 0: it stays).
  uint32_t PullHungUnitMs = 0;
  // Soak runs: this percent of units, drawn at random from the seed, get one
  // fault each (a damaged block, a failed erase or program, silence at some
  // phase, a dead line). The fault options above are then drawn per unit.
  struct FaultDraw {
    uint32_t Seed = 0;
    uint32_t Percent = 0;
  };
  std::optional<FaultDraw> RandomFaults{};
  FlashTiming Timing{};
  bool Realtime = false;          // pace every byte at the line rate
  bool TraceToStderr = false;
  // Back to the boot ROM after this long without traffic outside the boot
  // ROM (a stand-in for the operator's reset on a real line). Unset: 3000 ms
  // on a serial device, never on a pseudo-terminal (which sees the host close).
  std::optional<uint32_t> IdleResetMs{};
  std::string FlashOutPath{};       // flash contents written after every run
  // Each run's flash kept in a file of its own in this folder: run-1.bin,
  // run-2.bin ... (a unit of a swapping line is one run).
  std::string FlashDumpDir{};
  // Stop serving after one run: on a pseudo-terminal when the host closes
  // the line after a session in which it sent anything, on a serial device
  // when the first run has ended.
  bool Once = false;
  // Test use only (the Wine download test): a host whose line is at 38400
  // counts as being at 28800 while the handset is at that boot rate.
  bool HostAt38400IsBootRate = false;
};

} // namespace kestrune::handset
