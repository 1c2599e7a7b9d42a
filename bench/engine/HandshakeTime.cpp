// How long the boot handshake takes against a fast virtual handset, at each
// line speed: from the start of the run to "Starting flash write". Most of
// it is the ten identification bytes, which the handset paces 100 ms apart.
#include "engine/LineSpeed.h"
#include "handset/VirtualHandset.h"
#include "tests/support/TestPanel.h"

#include <chrono>
#include <cstdio>

using namespace kestrune;
using namespace std::chrono;

int main() {
  for (uint8_t row : {SpeedRow115K, SpeedRow460K, SpeedRow920K}) {
    handset::VirtualHandset handset;
    if (!handset.StartOnPty()) {
      std::printf("cannot start a virtual handset: %s\n", handset.ErrorText().c_str());
      return 1;
    }
    test::WorkerHarness h;
    test::TestPanel &panel = h.AddPanel(handset.DevicePath(), ButtonsForRow(row));
    steady_clock::time_point started = steady_clock::now(), accepted{}, atId{};
    panel.OnText = [&](const std::string &text) {
      if (text == "Waiting for man ID and device ID")
        atId = steady_clock::now();
      if (text == "Starting flash write") {
        accepted = steady_clock::now();
        h.Worker(1)->RequestStop();
      }
    };
    h.Start(1);
    h.ServeUntilAllEnded(seconds(30));
    if (accepted == steady_clock::time_point{}) {
      std::printf("%u baud: the handshake did not complete\n", LineRateTable[row]);
      return 1;
    }
    auto ms = [](auto d) { return duration<double, std::milli>(d).count(); };
    std::printf("%7u baud: handshake %.0f ms (identification and map %.0f ms)\n",
                LineRateTable[row], ms(accepted - started), ms(accepted - atId));
  }
}
