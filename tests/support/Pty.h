// A pseudo-terminal for tests: the test holds the master side, the worker
// opens the slave by its path, as it would open a serial device.
#pragma once

#include "platform/SerialPort.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::test {

class Pty {
public:
  Pty();
  ~Pty();
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  int Master() const { return MasterFd; }
  const std::string &SlavePath() const { return Path; }

  // The settings the slave's user applied, read through the master.
  PortSettings HostSettings() const;
  // Reads what is available (waits up to timeout for the first byte).
  std::vector<uint8_t> ReadAvailable(std::chrono::milliseconds timeout);
  void Write(const std::vector<uint8_t> &bytes);
  void Write(uint8_t byte) { Write(std::vector<uint8_t>{byte}); }
  void CloseMaster();

private:
  int MasterFd = -1;
  std::string Path;
};

// Wraps a real port and records what goes through it: every write as it
// reaches the port, and every line rate applied.
class RecordingSerialPort final : public SerialPort {
public:
  explicit RecordingSerialPort(std::unique_ptr<SerialPort> inner) : Inner(std::move(inner)) {}

  struct Log {
    std::vector<std::vector<uint8_t>> Writes;
    std::vector<uint32_t> Rates;
    std::vector<CommTimeouts> Timeouts;
    int Purges = 0;
    bool Closed = false;
  };
  // Shared with the test, which keeps it past the worker's end.
  std::shared_ptr<Log> Record = std::make_shared<Log>();

  bool Open(const std::string &name) override { return Forward(Inner->Open(name)); }
  bool IsOpen() const override { return Inner->IsOpen(); }
  void Close() override {
    Record->Closed = true;
    Inner->Close();
  }
  bool SetQueueSizes(uint32_t in, uint32_t out) override {
    return Forward(Inner->SetQueueSizes(in, out));
  }
  bool GetSettings(PortSettings &s) override { return Forward(Inner->GetSettings(s)); }
  bool ApplySettings(const PortSettings &s) override {
    Record->Rates.push_back(s.BaudRate);
    return Forward(Inner->ApplySettings(s));
  }
  bool ApplyTimeouts(const CommTimeouts &t) override {
    Record->Timeouts.push_back(t);
    return Forward(Inner->ApplyTimeouts(t));
  }
  bool Purge(bool o, bool i) override {
    ++Record->Purges;
    return Forward(Inner->Purge(o, i));
  }
  bool Drain() override { return Forward(Inner->Drain()); }
  void ClearErrors() override { Inner->ClearErrors(); }
  bool AcceptsRate(uint32_t rate) override { return Forward(Inner->AcceptsRate(rate)); }
  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    auto *p = static_cast<const uint8_t *>(data);
    Record->Writes.emplace_back(p, p + count);
    return Forward(Inner->Write(data, count, written));
  }
  bool Read(void *data, uint32_t count, uint32_t &received) override {
    return Forward(Inner->Read(data, count, received));
  }
  void SetStopFlag(const std::atomic<bool> *stop) override { Inner->SetStopFlag(stop); }

private:
  bool Forward(bool ok) {
    LastErrorCode = Inner->LastError();
    return ok;
  }
  std::unique_ptr<SerialPort> Inner;
};

} // namespace kestrune::test
