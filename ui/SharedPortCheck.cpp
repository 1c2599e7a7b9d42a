// Start and Start All look at every port that would be in use before they
// open anything: two channels on one port would leave the second failing
// with "busy" while the first already talks to the handset.
#include "platform/SharedPorts.h"
#include "ui/KestruneUiForm.h"

#include <algorithm>

namespace kestrune {

bool TKestruneUiForm::RefuseSharedPorts(const std::vector<int> &starting) {
  bool refused = false;
  for (int channel : starting) {
    const std::string port = PortText(channel).toStdString();
    if (port.empty())
      continue;
    for (int other = 0; other < ChannelCount; ++other) {
      bool running = CommsThread[other] != nullptr;
      bool alsoStarting = std::find(starting.begin(), starting.end(), other) != starting.end();
      if (other == channel || !(running || alsoStarting))
        continue;
      if (!SamePort(port, PortText(other).toStdString()))
        continue;
      int first = std::min(channel, other), second = std::max(channel, other);
      SetStatus(channel, QString("ERROR Channels %1 and %2 are both set to port %3: "
                                 "give each channel a port of its own")
                             .arg(ChannelRows[first].Number)
                             .arg(ChannelRows[second].Number)
                             .arg(QString::fromStdString(port)));
      refused = true;
      break;
    }
  }
  return refused;
}

} // namespace kestrune
