#include "cli/LiveLines.h"

#include "platform/ErrorMeaning.h"

#include <cstdio>

#ifndef _WIN32
#include <sys/ioctl.h>
#include <unistd.h>
#else
#include <windows.h>

#include <io.h>
#endif

namespace kestrune {
namespace {

// Cuts UTF-8 text after `width` code points (Korean texts take two columns
// each; cutting a little early keeps a line from wrapping).
std::string CutToWidth(const std::string &text, size_t width) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80)
      continue;
    columns += c >= 0xE0 ? 2 : 1;
    if (columns > width)
      return text.substr(0, i);
  }
  return text;
}

} // namespace

std::string LiveLine(const LiveChannel &channel, size_t width) {
  const ProgressSnapshot &p = channel.Progress;
  char head[160];
  std::snprintf(head, sizeof head, "%d %-12s %-20s %3d%%", channel.Channel,
                channel.Port.c_str(),
                p.Phase == RunPhase::Finished && p.Outcome ? RunOutcomeName(*p.Outcome)
                                                           : RunPhaseName(p.Phase),
                int(p.RunPercent));
  std::string line = head;
  if (p.Phase != RunPhase::Finished) {
    char rate[64];
    std::snprintf(rate, sizeof rate, " %7.1f KiB/s", p.KiBPerSecond);
    line += rate;
  }
  if (p.Left)
    line += " left " + FormatDuration(*p.Left);
  if (!channel.Verdict.empty())
    line += "  [" + channel.Verdict + "]";
  line += "  " + WithMeaning(channel.LastText);
  return CutToWidth(line, width);
}

void LiveLines::Draw(const std::vector<LiveChannel> &channels) {
  std::string frame;
  // Back to the first line drawn last time.
  if (Drawn > 0)
    frame += "\033[" + std::to_string(Drawn) + "A";
  for (const LiveChannel &channel : channels)
    frame += "\r\033[K" + LiveLine(channel, Width > 1 ? Width - 1 : Width) + "\n";
  Drawn = channels.size();
  Out << frame << std::flush;
}

size_t TerminalWidth(int fd) {
#ifndef _WIN32
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
#else
  CONSOLE_SCREEN_BUFFER_INFO info{};
  auto console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (console != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console, &info) &&
      info.srWindow.Right > info.srWindow.Left)
    return size_t(info.srWindow.Right - info.srWindow.Left + 1);
#endif
  return 100;
}

} // namespace kestrune
