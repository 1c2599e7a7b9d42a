#include "cli/CliPanel.h"

#include "cli/JsonEvents.h"
#include "platform/ErrorMeaning.h"

namespace kestrune {

CliPanel::CliPanel(const ChannelRow &row, std::string port, SpeedButtons speed,
                   GuiCallQueue &queue, std::ostream &out, bool verbose, bool clearLine)
    : ChannelRowRef(row), PortName(std::move(port)), Speed(speed), Queue(queue),
      Out(out), Verbose(verbose), ClearLine(clearLine) {}

void CliPanel::SetRunPhase(RunPhase phase) {
  RunProgressValues.SetPhase(phase);
  Phase = phase;
  if (Json)
    Json->Phase(ChannelRowRef.Number, PortName, phase);
}

void CliPanel::SetBytesSent(uint64_t sent, uint64_t total) {
  RunProgressValues.SetBytes(sent, total);
  if (Json)
    Json->Progress(ChannelRowRef.Number, PortName, Phase, sent, total);
}

void CliPanel::BeginUnit() {
  // The unit's time starts with its answer, not with the wait for it.
  Verdict.clear();
  Values.clear();
  RunProgressValues.Begin();
}

void CliPanel::SetUnitValues(const std::vector<std::pair<std::string, std::string>> &values) {
  Values.clear();
  for (const auto &[field, text] : values)
    Values += (Values.empty() ? "" : " ") + field + "=" + text;
  if (Json) {
    Json->Serials(ChannelRowRef.Number, PortName, values);
    return;
  }
  if (!ClearLine)
    Out << ChannelRowRef.Number << ": serial " << Values << '\n' << std::flush;
}

void CliPanel::SetStatusText(const std::string &text) {
  Text = text;
  if (Json) {
    Json->Status(ChannelRowRef.Number, PortName, text, StatusTextMeaning(text));
    return;
  }
  // On a terminal the channel's live line shows the latest text in place.
  if (ClearLine)
    return;
  Out << ChannelRowRef.Number << ": " << text << '\n';
  // The system's words for the text's error code, and how to get access
  // where access was denied, on a line of their own.
  std::string meaning = StatusTextMeaning(text);
  if (!meaning.empty())
    Out << ChannelRowRef.Number << ": " << meaning << '\n';
  Out << std::flush;
}

void CliPanel::SetStatusColour(StatusColour colour) {
  if (Verbose && !ClearLine && !Json)
    Out << ChannelRowRef.Number << ": " << (colour == StatusColour::Busy ? "[busy]" : "[done]")
        << '\n'
        << std::flush;
}

} // namespace kestrune
