// Random host traffic into the handset's protocol core: raw bytes mixed with
// well-formed protocol messages (so the fuzzer reaches every stage), line
// setting changes, host opens and closes, and time passing. The core must
// never crash, never hang and never send without bound.
#include "engine/RamProgram.h"
#include "handset/HandsetCore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace kestrune;
using namespace kestrune::handset;

namespace {

class Input {
public:
  Input(const uint8_t *data, size_t size) : Data(data), Size(size) {}
  bool Empty() const { return At >= Size; }
  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  uint16_t Word() { return uint16_t(Byte() << 8 | Byte()); }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> out;
    while (n-- && At < Size)
      out.push_back(Data[At++]);
    return out;
  }

private:
  const uint8_t *Data;
  size_t Size;
  size_t At = 0;
};

constexpr uint32_t Rates[] = {9600, 28800, 57600, 115200, 230400, 460800, 921600, 38400};

std::vector<uint8_t> Message(Input &in) {
  switch (in.Byte() % 10) {
  case 0: return {0x45};
  case 1: {
    std::vector<uint8_t> m{0x6A, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0x17, 0x00};
    m.insert(m.end(), RamProgram.begin(), RamProgram.end());
    return m;
  }
  case 2: return {0x21, 0x01, 0x00, 0x00, 0x00, in.Byte()};
  case 3: return {0x21, 0x00};
  case 4: return {0x21, 0x02, 0x01, 0x00, 0x00, 0x00};
  case 5: {
    std::vector<uint8_t> m{0x00, 0x83};
    for (uint32_t e : SegmentMap)
      m.insert(m.end(), {uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
    return m;
  }
  case 6: return {0x21};
  case 7: {
    uint16_t blocks = uint16_t(in.Byte() % 6);
    return {uint8_t(blocks >> 8), uint8_t(blocks), 0x00, 0x00, 0x80, 0x00, 0x01};
  }
  default: {
    // A block frame: full or short, right or wrong sum.
    uint8_t shape = in.Byte();
    uint32_t length = shape & 1 ? 32768 : 1 + in.Byte() * 64u;
    uint32_t offset = uint32_t(in.Byte() % 8) * 32768;
    std::vector<uint8_t> m{uint8_t(length >> 8), uint8_t(length), 0, 0, uint8_t(offset >> 24),
                           uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset)};
    uint16_t sum = uint16_t(m[4] + m[5] + m[6] + m[7]);
    uint8_t fill = in.Byte();
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t b = uint8_t(fill + i);
      sum = uint16_t(sum + b);
      m.push_back(b);
    }
    if (shape & 2)
      ++sum;
    m[2] = uint8_t(sum >> 8);
    m[3] = uint8_t(sum);
    return m;
  }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  HandsetOptions options;
  // The virtual clock drives the host-code model; the emulated core runs in
  // real time on threads of its own.
  options.Model = RamModel::Host;
  uint8_t flags = in.Byte();
  options.Noise = flags & 1;
  options.Realtime = flags & 2;
  options.PowerOnDelayMs = flags & 4 ? 50 : 0;
  options.UnsupportedFlash = flags & 8;
  if (flags & 16)
    options.IdleResetMs = 200;
  if (flags & 32)
    options.Timing = FlashTiming{700, 300, 1};
  uint8_t faults = in.Byte();
  options.SilentAfter = Phase(faults % 11);
  options.NakBlock = (faults >> 4) % 4;
  options.NakTimes = 1 + (faults >> 6);
  options.EraseFailSegment = in.Byte() % 140;
  options.ProgramError = faults & 8;
  options.ProgramErrorAddress = uint32_t(in.Byte()) << 14;
  options.DisconnectAfterBytes = flags & 64 ? in.Word() : 0;
  options.MapAnswer = in.Byte();

  Trace trace;
  HandsetCore core(options, trace);
  HostLine host{true, 28800, 8, 2, false};
  SimTime now{};
  size_t sent = 0;
  std::vector<uint8_t> out;

  auto drain = [&] {
    for (int guard = 0; guard < 100000; ++guard) {
      core.Advance(now);
      std::optional<SimTime> next = core.NextWakeup();
      if (!next || *next > now)
        return;
      out.clear();
      core.TakeOutput(now, host, out);
      if (out.empty())
        return; // waiting for a write confirmation that comes below
      sent += out.size();
      core.OutputWritten(now);
    }
    std::abort(); // output that never ends
  };

  while (!in.Empty() && !core.DisconnectRequested()) {
    switch (in.Byte() % 8) {
    case 0:
    case 1: {
      std::vector<uint8_t> raw = in.Bytes(1 + in.Byte() % 64);
      core.Receive(raw.data(), raw.size(), host, now);
      break;
    }
    case 2:
    case 3: {
      std::vector<uint8_t> m = Message(in);
      core.Receive(m.data(), m.size(), host, now);
      break;
    }
    case 4: now += SimTime(int64_t(in.Byte()) * 4000); break;
    case 5: {
      uint8_t line = in.Byte();
      host.Rate = Rates[line % 8];
      host.StopBits = line & 0x10 ? 1 : 2;
      host.Parity = line & 0x20;
      host.Known = !(line & 0x40);
      break;
    }
    case 6:
      if (in.Byte() & 1)
        core.HostOpened(now);
      else
        core.HostClosed(now);
      break;
    default: now += SimTime(int64_t(in.Word()) * 1000); break;
    }
    drain();
    // A run answers a few hundred bytes; eight per refused last block.
    if (sent > 1000000)
      std::abort();
  }
  return 0;
}
