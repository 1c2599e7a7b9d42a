// Low-latency mode of a Linux serial port. USB serial adapters (FTDI and
// others) hold received bytes for up to 16 ms before handing them on, to
// fill their USB packets; a handset's one-byte ACKs then each wait that
// long. ASYNC_LOW_LATENCY makes the driver pass every byte on at once.
#pragma once

namespace kestrune {

enum class LowLatencyResult {
  Set,          // the driver now passes bytes on at once
  AlreadySet,   // it already did
  NotSupported, // the driver has no such mode (pseudo-terminals, other systems)
  Refused,      // the driver has the mode but refused the change
};

// Asks the driver of the open port fd for low-latency mode. Nothing here is
// an error of the port: a port without the mode works as it did, only with
// the driver's own latency.
LowLatencyResult RequestLowLatency(int fd);

} // namespace kestrune
