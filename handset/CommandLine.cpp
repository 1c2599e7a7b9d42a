#include "handset/CommandLine.h"

#include <CLI/CLI.hpp>

#include <string>

namespace kestrune::handset {
namespace {

// Numbers in decimal or with a 0x prefix.
bool ParseNumber(const std::string &text, uint64_t &value) {
  try {
    size_t used = 0;
    value = std::stoull(text, &used, 0);
    return used == text.size();
  } catch (const std::exception &) {
    return false;
  }
}

// "A" or "A:B"; B keeps its default when missing.
bool ParsePair(const std::string &text, uint64_t &first, uint64_t &second) {
  size_t colon = text.find(':');
  if (!ParseNumber(text.substr(0, colon), first))
    return false;
  return colon == std::string::npos || ParseNumber(text.substr(colon + 1), second);
}

} // namespace

int ParseCommandLine(int argc, const char *const *argv, CommandLine &line) {
  CLI::App app{"Virtual handset: boot ROM, RAM program and NOR flash on a serial line"};
  HandsetOptions &o = line.Options;
  std::string silent, mapAnswer, nakBlock, programError, model, corruptRam;
  uint32_t eraseMs = 0, eraseSmallMs = 0, programUs = 0, idleMs = 0;
  bool realistic = false;

  auto *pty = app.add_flag("--pty", line.UsePty,
                           "create a pseudo-terminal, print its path on the first line and serve it");
  auto *device = app.add_option("--device", line.DevicePath,
                                "serve an existing serial device (a null-modem cable to the host)");
  pty->excludes(device);
  app.add_option("--model", model,
                 "arm|host: run the RAM program on the emulated ARM core (default) or answer "
                 "in its place in host code")
      ->check(CLI::IsMember({"arm", "host"}));
  app.add_option("--corrupt-ram", corruptRam,
                 "OFFSET:WORD: the RAM program runs with this 32-bit word at this byte offset "
                 "(emulated core only; e.g. 0:0xEAFFFFFE hangs it at its first instruction)");
  app.add_option("--core-hang-ms", o.CoreHangMs,
                 "MS: report the emulated core as stopped after this long without touching its "
                 "devices (default 2000)");
  app.add_option("--power-on-delay", o.PowerOnDelayMs,
                 "MS: the boot ROM stays silent this long after the host opens the line");
  app.add_option("--swap-after-run", o.SwapAfterRunMs,
                 "MS: after each run no unit answers for MS, then a fresh unit (erased flash) "
                 "is on the line");
  app.add_flag("--noise", o.Noise, "send stray bytes before the boot ROM's C");
  app.add_option("--silent-after", silent, "PHASE: stop answering at " + PhaseNames());
  app.add_option("--map-answer", mapAnswer, "BYTE: answer to the map command (default 0x01)");
  app.add_flag("--unsupported-flash", o.UnsupportedFlash,
               "the flash reports a device the RAM program refuses");
  app.add_option("--nak-block", nakBlock, "K[:TIMES]: refuse block K (from 1) TIMES times (default 1)");
  app.add_option("--erase-fail", o.EraseFailSegment, "SEGMENT: the erase of segment 1..131 fails")
      ->check(CLI::Range(1, 131));
  app.add_option("--erase-fail-run", o.EraseFailRun,
                 "RUN: the erase fails only in run RUN (from 1), not in every run");
  auto *programFlag = app.add_option("--program-error", programError,
                                     "[ADDR[:COUNT]]: the first COUNT word programs at or above "
                                     "flash address ADDR fail (default 0:1)")
                          ->expected(0, 1);
  app.add_option("--disconnect-after", o.DisconnectAfterBytes,
                 "BYTES: cut the line after this many host bytes, counted from the RAM program header");
  app.add_option("--cut-after", o.CutAfterBytes,
                 "BYTES: the line goes dead (the port stays) after this many host bytes, counted "
                 "from the RAM program header")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--pull-hung", o.PullHungUnitMs,
                 "MS: with --swap-after-run, a unit that stopped answering is taken off the line "
                 "after MS")
      ->check(CLI::NonNegativeNumber);
  std::string randomFaults;
  app.add_option("--random-faults", randomFaults,
                 "SEED:PERCENT: PERCENT of units, drawn from SEED, get one fault each (a damaged "
                 "block, a failed erase or program, silence at some phase, a dead line)");
  app.add_flag("--realistic-timing", realistic,
               "typical NOR times: 0.7 s per 128 KiB segment, 0.3 s per 32 KiB, 12 us per word");
  app.add_option("--erase-ms", eraseMs, "MS: erase time of a 128 KiB segment");
  app.add_option("--erase-small-ms", eraseSmallMs, "MS: erase time of a 32 KiB segment");
  app.add_option("--program-us", programUs, "US: program time of a 16-bit word");
  app.add_flag("--realtime", o.Realtime, "pace every byte at the line rate in both directions");
  app.add_flag("--trace", o.TraceToStderr, "log every message received and sent to stderr");
  app.add_flag("--once", o.Once, "exit after one run");
  app.add_flag("--test-wine-boot-rate", o.HostAt38400IsBootRate,
               "test use only: a host at 38400 counts as at 28800 while the handset is at the "
               "boot rate (Wine cannot set 28800 on a pseudo-terminal)");
  app.add_option("--flash-out", o.FlashOutPath, "FILE: write the flash (16 MiB) after each run");
  app.add_option("--flash-dump-dir", o.FlashDumpDir,
                 "DIR: write the flash (16 MiB) after run N to DIR/run-N.bin");
  auto *idle = app.add_option("--idle-reset", idleMs,
                              "MS: back to the boot ROM after this long without traffic "
                              "(default 3000 on a device, off on a pseudo-terminal; 0 = off)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    // CLI11 has an exit code of its own for each kind of mistake; ours is 2.
    return app.exit(e) == 0 ? 0 : 2;
  }
  auto usage = [&](const std::string &text) {
    std::fprintf(stderr, "kestrune-handset: %s\n", text.c_str());
    return 2;
  };
  if (!line.UsePty && line.DevicePath.empty())
    return usage("give --pty or --device PATH");
  if (model == "host")
    o.Model = RamModel::Host;
  if (!corruptRam.empty()) {
    uint64_t offset = 0, word = 0;
    if (!ParsePair(corruptRam, offset, word) || corruptRam.find(':') == std::string::npos ||
        offset > 0xFFFF || word > 0xFFFFFFFF)
      return usage("--corrupt-ram takes OFFSET:WORD");
    o.CorruptRam = HandsetOptions::RamWord{uint32_t(offset), uint32_t(word)};
  }
  if (!silent.empty()) {
    auto phase = PhaseFromName(silent);
    if (!phase || *phase == Phase::None)
      return usage("--silent-after takes one of: " + PhaseNames());
    o.SilentAfter = *phase;
  }
  if (!mapAnswer.empty()) {
    uint64_t value = 0;
    if (!ParseNumber(mapAnswer, value) || value > 0xFF)
      return usage("--map-answer takes a byte (0 to 255, or 0x00 to 0xFF)");
    o.MapAnswer = uint8_t(value);
  }
  if (!nakBlock.empty()) {
    uint64_t block = 0, times = 1;
    if (!ParsePair(nakBlock, block, times) || block == 0 || block > 0xFFFF || times > 0xFFFFFFFF)
      return usage("--nak-block takes K[:TIMES] with K from 1");
    o.NakBlock = uint32_t(block);
    o.NakTimes = uint32_t(times);
  }
  if (programFlag->count() > 0) {
    uint64_t address = 0, count = 1;
    if (!programError.empty() &&
        (!ParsePair(programError, address, count) || address > 0xFFFFFFFF || count > 0xFFFFFFFF))
      return usage("--program-error takes [ADDR[:COUNT]]");
    o.ProgramError = true;
    o.ProgramErrorAddress = uint32_t(address);
    o.ProgramErrorCount = uint32_t(count);
  }
  if (!randomFaults.empty()) {
    uint64_t seed = 0, percent = 0;
    if (!ParsePair(randomFaults, seed, percent) || randomFaults.find(':') == std::string::npos ||
        seed > 0xFFFFFFFF || percent > 100)
      return usage("--random-faults takes SEED:PERCENT with PERCENT from 0 to 100");
    o.RandomFaults = HandsetOptions::FaultDraw{uint32_t(seed), uint32_t(percent)};
  }
  if (realistic)
    o.Timing = RealisticTiming();
  if (eraseMs)
    o.Timing.LargeEraseUs = eraseMs * 1000;
  if (eraseSmallMs)
    o.Timing.SmallEraseUs = eraseSmallMs * 1000;
  if (programUs)
    o.Timing.WordProgramUs = programUs;
  if (idle->count() > 0)
    o.IdleResetMs = idleMs;
  return -1;
}

} // namespace kestrune::handset
