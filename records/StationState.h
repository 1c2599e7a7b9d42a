// What a station's channels are doing now, as the line's dashboard shows
// it: one entry per channel, published by the front end's own thread and
// read by the state writer's, under the board's mutex. Plain values only.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kestrune::records {

struct ChannelState {
  int Channel = 0;
  std::string Port;
  std::string Phase;       // the run phase's name ("programming", ...)
  double Percent = 0;      // the whole run, 0 to 100
  std::string Serials;     // the current unit's values, "sn=0000001000 mac=..."; empty for none
  std::string LastOutcome; // passed, failed or stopped; empty before the first run ended
  std::string LastText;    // the channel's latest status text
  std::string ImageSha256; // of the image the channel sends
  std::string Job;         // the job's title; empty without a job
};

class StationStateBoard {
public:
  // Replaces the whole station's state; never waits on anything but the
  // board's own mutex.
  void Publish(std::vector<ChannelState> channels) {
    std::lock_guard lock(Mutex);
    Channels = std::move(channels);
    Published = true;
  }
  // Empty until the first Publish.
  std::vector<ChannelState> Snapshot() const {
    std::lock_guard lock(Mutex);
    return Channels;
  }
  bool HasState() const {
    std::lock_guard lock(Mutex);
    return Published;
  }

private:
  mutable std::mutex Mutex;
  std::vector<ChannelState> Channels;
  bool Published = false;
};

} // namespace kestrune::records
