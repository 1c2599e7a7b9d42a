// The serial port as the channel worker sees it: one small interface with a
// POSIX (termios2) and a Win32 implementation behind it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune {

// The line settings the worker forces. Everything else about the port (parity
// scheme, flow-control characters, ...) is kept as the port had it: each
// implementation keeps the native record it read at open time and only
// overwrites these fields in it.
struct PortSettings {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  uint8_t StopBits = 2;          // 1 or 2
  bool ParityCheck = false;      // parity checking (the scheme itself is kept)
  bool OutxCtsFlow = false;      // hardware flow control on output
  bool OutxDsrFlow = false;
  bool DtrOn = false;            // DTR held on (true) or off (false)
  bool RtsOn = false;            // RTS held on (true) or off (false)
  bool OutX = false;             // XON/XOFF on output
  bool InX = false;              // XON/XOFF on input
};

// A read of n bytes returns when n bytes have arrived or after
// ReadTotalMultiplier * n + ReadTotalConstant milliseconds, whichever comes
// first. The total time-out starts with the read, not at the first byte.
// The write values are not used: a write returns when every byte is taken,
// or gives up when the owner's stop flag is raised (see SetStopFlag).
struct CommTimeouts {
  uint32_t ReadInterval = 0;
  uint32_t ReadTotalMultiplier = 0;
  uint32_t ReadTotalConstant = 0;
  uint32_t WriteTotalMultiplier = 0;
  uint32_t WriteTotalConstant = 0;
};

class SerialPort {
public:
  virtual ~SerialPort() = default;

  // Every operation returns false on failure and leaves the platform's error
  // code (errno, GetLastError()) in LastError().
  virtual bool Open(const std::string &portName) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;

  virtual bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) = 0;
  virtual bool GetSettings(PortSettings &settings) = 0;
  virtual bool ApplySettings(const PortSettings &settings) = 0;
  virtual bool ApplyTimeouts(const CommTimeouts &timeouts) = 0;
  virtual bool Purge(bool output, bool input) = 0;
  // Waits until every byte written has left the driver.
  virtual bool Drain() = 0;
  // Clears the port's error state and counters; the result is not used.
  virtual void ClearErrors() = 0;
  // Whether the port's driver takes the line rate, asked without leaving
  // it there: the rate is set and the port's present settings put back at
  // once. For use while no byte is on its way. False with the platform's
  // code when the driver refuses the rate. A port that takes any rate (a
  // test double) keeps this default.
  virtual bool AcceptsRate(uint32_t /*rate*/) { return true; }

  virtual bool Write(const void *data, uint32_t count, uint32_t &written) = 0;
  virtual bool Read(void *data, uint32_t count, uint32_t &received) = 0;

  uint32_t LastError() const { return LastErrorCode; }
  // Lets a caller set the code reported next, like SetLastError().
  void SetLastError(uint32_t code) { LastErrorCode = code; }

  // A write the line cannot take waits in slices of at most WriteSliceMs and
  // gives up once *stop is true, failing with the platform's "cancelled"
  // code; a write that the line takes at once is never refused. The flag
  // must outlive the port's use; it may be raised from any thread.
  virtual void SetStopFlag(const std::atomic<bool> *stop) { StopFlag = stop; }
  static constexpr int WriteSliceMs = 50;

protected:
  bool StopWanted() const { return StopFlag != nullptr && StopFlag->load(); }

  uint32_t LastErrorCode = 0;
  const std::atomic<bool> *StopFlag = nullptr;
};

// The implementation for the platform this program is built for.
std::unique_ptr<SerialPort> CreateSerialPort();

// The name under which a port text is opened: on Windows "\\.\" is put in
// front of texts longer than four characters (COM10 and above); on Linux
// "COMn" stands for /dev/ttyS(n-1) and anything else is a device path.
std::string WindowsPortPath(const std::string &portText);
std::string PosixPortPath(const std::string &portText);

} // namespace kestrune
