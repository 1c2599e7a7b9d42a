#include "cli/CliPanel.h"

#include "platform/PortAccessHint.h"

namespace kestrune {

CliPanel::CliPanel(const ChannelRow &row, std::string port, SpeedButtons speed,
                   GuiCallQueue &queue, std::ostream &out, bool verbose, bool clearLine)
    : ChannelRowRef(row), PortName(std::move(port)), Speed(speed), Queue(queue),
      Out(out), Verbose(verbose), ClearLine(clearLine) {}

void CliPanel::SetStatusText(const std::string &text) {
  Text = text;
  // On a terminal the channel's live line shows the latest text in place.
  if (ClearLine)
    return;
  Out << ChannelRowRef.Number << ": " << text << '\n';
  std::string hint = PortAccessHint(text);
  if (!hint.empty())
    Out << ChannelRowRef.Number << ": " << hint << '\n';
  Out << std::flush;
}

void CliPanel::SetStatusColour(StatusColour colour) {
  if (Verbose && !ClearLine)
    Out << ChannelRowRef.Number << ": " << (colour == StatusColour::Busy ? "[busy]" : "[done]")
        << '\n'
        << std::flush;
}

} // namespace kestrune
