#include "handset/arm/Uart.h"

#include "handset/arm/ReferenceHandset.h"

namespace kestrune::arm {
namespace {

// What a receiver set to another rate or framing makes of a byte. Any
// fixed garbling will do as long as no byte comes through unchanged.
constexpr uint8_t GarbleMask = 0x5A;

} // namespace

bool LinesAgree(const UartLine &a, const UartLine &b) {
  if (a.DataBits != b.DataBits || a.StopBits != b.StopBits || a.Parity != b.Parity)
    return false;
  uint64_t diff = a.Rate > b.Rate ? a.Rate - b.Rate : b.Rate - a.Rate;
  return b.Rate != 0 && diff * 50 <= b.Rate;
}

std::string UartLine::Describe() const {
  const char parity = Parity == Parity::Odd ? 'O' : Parity == Parity::Even ? 'E' : 'N';
  return std::to_string(Rate) + " " + std::to_string(DataBits) + parity + std::to_string(StopBits);
}

Uart::Uart(Sink sink, std::mutex &lock, std::condition_variable &wake)
    : ToHost(std::move(sink)), Lock(lock), Wake(wake), Ring(RH_UART_RX_FIFO) {}

void Uart::Configure(const UartLine &line) {
  std::lock_guard guard(Lock);
  Divisor = line.Rate ? RH_UART_CLOCK_RATE / line.Rate : 0;
  LineControl = uint32_t(line.DataBits - 5) & RH_UART_LC_BITS_MASK;
  if (line.StopBits == 2)
    LineControl |= RH_UART_LC_TWO_STOP;
  LineControl |= uint32_t(line.Parity) << RH_UART_LC_PARITY_SHIFT;
  Current = line;
}

UartLine Uart::Line() const {
  std::lock_guard guard(Lock);
  return Current;
}

void Uart::Receive(std::span<const uint8_t> bytes, const std::optional<UartLine> &sentWith) {
  {
    std::lock_guard guard(Lock);
    uint32_t room = uint32_t(Ring.size()) - Count;
    uint32_t taken = bytes.size() < room ? uint32_t(bytes.size()) : room;
    if (taken < bytes.size())
      Overrun = true;
    for (uint32_t i = 0; i < taken; ++i)
      Ring[(Head + Count + i) % Ring.size()] = bytes[i];
    Count += taken;
    Received += taken;
    if (taken != 0) {
      if (!Tags.empty() && Tags.back().Line == sentWith)
        Tags.back().Count += taken;
      else
        Tags.push_back({sentWith, taken});
    }
  }
  Wake.notify_all();
}

uint32_t Uart::PopByte() {
  std::lock_guard guard(Lock);
  if (Count == 0)
    return 0;
  uint8_t byte = Ring[Head];
  Head = (Head + 1) % uint32_t(Ring.size());
  --Count;
  TagRun &run = Tags.front();
  if (run.Line && !LinesAgree(*run.Line, Current)) {
    byte ^= GarbleMask;
    FramingError = true;
  }
  if (--run.Count == 0)
    Tags.pop_front();
  return byte;
}

void Uart::UpdateLine() {
  UartLine line;
  line.Rate = Divisor ? RH_UART_CLOCK_RATE / Divisor : 0;
  line.DataBits = uint8_t(5 + (LineControl & RH_UART_LC_BITS_MASK));
  line.StopBits = (LineControl & RH_UART_LC_TWO_STOP) ? 2 : 1;
  uint32_t parity = (LineControl & RH_UART_LC_PARITY_MASK) >> RH_UART_LC_PARITY_SHIFT;
  line.Parity = parity == 1 ? Parity::Odd : parity == 2 ? Parity::Even : Parity::None;
  {
    std::lock_guard guard(Lock);
    if (line == Current)
      return;
    Current = line;
  }
  if (LineChanged)
    LineChanged(line);
}

uint32_t Uart::ReadRegister(uint32_t offset) {
  switch (offset) {
  case RH_UART_DATA - RH_UART_BASE:
    return PopByte();
  case RH_UART_STATUS - RH_UART_BASE: {
    std::lock_guard guard(Lock);
    uint32_t status = RH_UART_ST_TXREADY | RH_UART_ST_TXEMPTY;
    if (Count != 0)
      status |= RH_UART_ST_RXREADY;
    if (Overrun)
      status |= RH_UART_ST_OVERRUN;
    if (FramingError)
      status |= RH_UART_ST_FRAMING;
    Overrun = false;
    FramingError = false;
    return status;
  }
  case RH_UART_RXCOUNT - RH_UART_BASE: {
    std::lock_guard guard(Lock);
    return Count;
  }
  case RH_UART_DIVISOR - RH_UART_BASE:
    return Divisor;
  case RH_UART_LINECTRL - RH_UART_BASE:
    return LineControl;
  default:
    return 0;
  }
}

void Uart::WriteRegister(uint32_t offset, uint32_t value) {
  switch (offset) {
  case RH_UART_DATA - RH_UART_BASE: {
    UartLine line = Line();
    ++Sent;
    if (ToHost)
      ToHost(uint8_t(value), line);
    return;
  }
  case RH_UART_DIVISOR - RH_UART_BASE:
    Divisor = value & 0xFFFF;
    UpdateLine();
    return;
  case RH_UART_LINECTRL - RH_UART_BASE:
    LineControl = value & (RH_UART_LC_BITS_MASK | RH_UART_LC_TWO_STOP | RH_UART_LC_PARITY_MASK);
    UpdateLine();
    return;
  default:
    return;
  }
}

} // namespace kestrune::arm
