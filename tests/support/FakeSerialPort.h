// A serial port without a line: writes go to a responder that may queue
// answers, reads take queued answers or time out by the CommTimeouts rule.
// Failures can be injected per operation, with any error code (0 included),
// and so can exceptions. Every call is recorded in order, with its time.
#pragma once

#include "platform/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::test {

class FakeSerialPort final : public SerialPort {
public:
  enum class Op { Open, Setup, GetSettings, ApplySettings, ApplyTimeouts, Purge, Drain, Write, Read, Close,
                  AcceptsRate };

  struct Call {
    Op Operation;
    std::chrono::steady_clock::time_point At;
  };

  struct State {
    std::mutex Mutex;
    std::condition_variable Changed;
    // Each answer arrives on its own: one read never spans two answers, as
    // with bytes that the handset sends with pauses between them.
    std::deque<std::deque<uint8_t>> Incoming;
    std::vector<std::vector<uint8_t>> Writes;
    std::vector<uint32_t> Rates;
    std::map<Op, uint32_t> Failures; // operation -> error code to fail with
    std::map<Op, bool> Blocked;      // operation waits while true
    std::map<Op, bool> Throws;       // operation throws while true
    std::vector<Call> Calls;         // every operation, in the order called
    bool Open = false;
    bool Closed = false;
    // Called with each write (under no lock); may call Answer().
    using ResponderFn = std::function<void(const std::vector<uint8_t> &)>;
    void SetResponder(ResponderFn fn) {
      std::lock_guard lock(Mutex);
      Responder = std::move(fn);
    }
    ResponderFn GetResponder() {
      std::lock_guard lock(Mutex);
      return Responder;
    }
    ResponderFn Responder;

    void Answer(std::vector<uint8_t> bytes) {
      std::lock_guard lock(Mutex);
      if (!bytes.empty())
        Incoming.emplace_back(bytes.begin(), bytes.end());
      Changed.notify_all();
    }
    void Release(Op op) {
      std::lock_guard lock(Mutex);
      Blocked[op] = false;
      Changed.notify_all();
    }
    bool WaitingAt(Op op) {
      std::lock_guard lock(Mutex);
      return ReachedBlock[op];
    }
    std::map<Op, bool> ReachedBlock;
  };

  std::shared_ptr<State> Shared = std::make_shared<State>();

  bool Open(const std::string &) override {
    if (!Pass(Op::Open))
      return false;
    Shared->Open = true;
    return true;
  }
  bool IsOpen() const override { return Shared->Open; }
  void Close() override {
    std::lock_guard lock(Shared->Mutex);
    Shared->Calls.push_back({Op::Close, std::chrono::steady_clock::now()});
    Shared->Open = false;
    Shared->Closed = true;
  }
  bool SetQueueSizes(uint32_t, uint32_t) override { return Pass(Op::Setup); }
  bool GetSettings(PortSettings &s) override {
    s = Settings;
    return Pass(Op::GetSettings);
  }
  bool ApplySettings(const PortSettings &s) override {
    if (!Pass(Op::ApplySettings))
      return false;
    Settings = s;
    std::lock_guard lock(Shared->Mutex);
    Shared->Rates.push_back(s.BaudRate);
    return true;
  }
  bool ApplyTimeouts(const CommTimeouts &t) override {
    if (!Pass(Op::ApplyTimeouts))
      return false;
    Timeouts = t;
    return true;
  }
  bool Purge(bool, bool input) override {
    if (!Pass(Op::Purge))
      return false;
    if (input) {
      std::lock_guard lock(Shared->Mutex);
      Shared->Incoming.clear();
    }
    return true;
  }
  bool Drain() override { return Pass(Op::Drain); }
  bool AcceptsRate(uint32_t) override { return Pass(Op::AcceptsRate); }
  void ClearErrors() override {}
  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    written = 0;
    if (!Pass(Op::Write))
      return false;
    auto *p = static_cast<const uint8_t *>(data);
    std::vector<uint8_t> bytes(p, p + count);
    {
      std::lock_guard lock(Shared->Mutex);
      Shared->Writes.push_back(bytes);
    }
    if (auto responder = Shared->GetResponder())
      responder(bytes);
    written = count;
    return true;
  }
  bool Read(void *data, uint32_t count, uint32_t &received) override {
    received = 0;
    if (!Pass(Op::Read))
      return false;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(Timeouts.ReadTotalMultiplier * count +
                                              Timeouts.ReadTotalConstant);
    auto *out = static_cast<uint8_t *>(data);
    std::unique_lock lock(Shared->Mutex);
    while (received < count) {
      if (!Shared->Incoming.empty()) {
        auto &answer = Shared->Incoming.front();
        while (received < count && !answer.empty()) {
          out[received++] = answer.front();
          answer.pop_front();
        }
        if (answer.empty())
          Shared->Incoming.pop_front();
        break;
      }
      if (Shared->Changed.wait_until(lock, deadline) == std::cv_status::timeout &&
          Shared->Incoming.empty())
        break;
    }
    return true;
  }

private:
  bool Pass(Op op) {
    std::unique_lock lock(Shared->Mutex);
    Shared->Calls.push_back({op, std::chrono::steady_clock::now()});
    if (Shared->Throws[op])
      throw std::runtime_error("injected failure");
    if (Shared->Blocked[op]) {
      Shared->ReachedBlock[op] = true;
      Shared->Changed.wait(lock, [&] { return !Shared->Blocked[op]; });
    }
    auto failure = Shared->Failures.find(op);
    if (failure == Shared->Failures.end())
      return true;
    LastErrorCode = failure->second;
    return false;
  }
  PortSettings Settings;
  CommTimeouts Timeouts;
};

} // namespace kestrune::test
