// The boot ROM call of a repeating channel's later runs: it takes the place
// of the first run's call and starts the run only when the handset that was
// flashed has gone and the next one answers.
#include "engine/CommsThread.h"
#include "engine/SwapWatch.h"
#include "engine/WireBytes.h"
#include "platform/IsoUtcTime.h"

namespace kestrune {

void TCommsThread::WaitForNextHandset() {
  if (StopCode != StopCodeRunning)
    return;
  PrepareBootCall();
  Panel.SetRunPhase(RunPhase::WaitingForNextUnit);
  ShowStatus(RemoveHandsetText);
  SwapWatch watch(Repeat.SwapSilence, SwapWatch::Clock::now());
  bool goneShown = false;
  while (StopCode == StopCodeRunning) {
    watch.SetSilence(Panel.SwapSilence(Repeat.SwapSilence));
    WriteComm(TxBuffer, 1);
    RxBuffer[0] = 0xFF;
    BytesRead = ReadComm(RxBuffer, 1);
    SwapWatch::State state = watch.Call(BytesRead > 0, BytesRead > 0 && RxBuffer[0] == BootAnswerByte,
                                        SwapWatch::Clock::now());
    if (state == SwapWatch::State::Arrived) {
      // The unit's time starts with its answer, not with the wait for it.
      LastReport.Started = RunReport::Clock::now();
      Panel.RunOnGuiThread([this] { Panel.BeginUnit(); });
      return;
    }
    if (state == SwapWatch::State::Gone && !goneShown) {
      goneShown = true;
      ShowStatus("전원 On/Reset Mobile");
    }
  }
}

void TCommsThread::NoteChangedImageFile() {
  if (ImageChangeNoted || !Plan.Image || !Plan.Image->ChosenFileChanged())
    return;
  ImageChangeNoted = true;
  // Said before the call text, which the next step shows over it; the
  // front ends keep it in the channel's log.
  ShowStatus("Image file changed on disk: this batch goes on with the image loaded at " +
             IsoUtcTime(Plan.Image->LoadedAt) + " (SHA-256 " +
             Plan.Image->Sha256.substr(0, 12) + "…)");
}

} // namespace kestrune
