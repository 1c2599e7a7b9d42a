// Follows the exchange between the host and the RAM program from outside,
// as a line analyser would: where each host message ends, whether a block's
// sum is right, which answer is the verdict. The handset running the real
// RAM program on its emulated core uses it for what the program itself
// cannot say: the run's summary, and the faults of its options that act on
// the line (a refused block, a wrong map answer, falling silent at a phase).
#pragma once

#include "handset/HandsetOptions.h"
#include "handset/RunSummary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::handset {

class ExchangeWatcher {
public:
  explicit ExchangeWatcher(const HandsetOptions &options);

  struct HostStep {
    bool Corrupt = false;  // the byte reaches the handset damaged (--nak-block)
    bool Withhold = false; // the handset falls silent before taking this byte
  };
  // Each host byte in order, as it reaches the handset.
  HostStep OnHostByte(uint8_t byte);
  // Each answer of the program in order; the byte the host gets, if any.
  std::optional<uint8_t> OnAnswer(uint8_t byte);

  // An answer that ends the run has come (the verdict, a refused flash or
  // start header, a failed segment): it and what follows belong to the
  // run's end.
  bool RunEnding() const { return Ending; }
  // The --silent-after phase was reached.
  bool Silent() const { return SilenceReached; }
  // The silence stops the program at once; at the verdict it finishes its
  // work first and only its answers are lost.
  bool SilenceStopsProgram() const { return SilenceReached && !Muted; }

  // How the run went as far as the line shows, once the program is back in
  // the boot ROM.
  RunOutcome Outcome() const;
  // Fills the summary; C and S only when the record came.
  void Fill(RunSummary &summary) const;
  bool RecordGiven() const { return Record.size() == 8; }
  std::vector<std::string> TakeNotes();

private:
  enum class Stage : uint8_t {
    Command, Op, SpeedArgs, SpeedCode, MapArgs, MapCount, MapEntries,
    StartHeader, FrameHeader, FrameData, Finished, Lost,
  };

  HostStep MessageDone(Phase phase);
  HostStep FrameDone();
  bool SilenceAt(Phase phase);

  const HandsetOptions &Options;
  std::vector<std::string> Notes;

  // Host side.
  Stage Current = Stage::Command;
  uint32_t Count = 0; // bytes of the current message so far
  uint8_t Message[8] = {};
  bool HaveMap = false;
  uint32_t MapBytesLeft = 0;
  uint32_t Total = 0;
  bool BadStart = false;
  uint32_t FrameLength = 0;
  uint16_t FrameSum = 0;
  uint16_t RunningSum = 0;
  bool CorruptFrame = false;
  uint32_t Block = 1; // the block the host is sending (counted from 1)
  uint32_t Frames = 0;
  uint32_t Refused = 0;
  uint32_t NakLeft = 0;
  bool ErasedByReport = false;
  bool SilenceReached = false;
  bool Muted = false;

  // Answer side.
  bool MapAnswerDue = false;
  bool TypeAnswerDue = false;
  bool StartAnswerDue = false;
  bool VerdictDue = false;
  bool FlashRefused = false;
  uint32_t ReportLeft = 0; // erase report bytes still to come
  bool EraseFailed = false;
  bool Ending = false;
  std::optional<uint8_t> Verdict;
  std::vector<uint8_t> Record;
};

} // namespace kestrune::handset
