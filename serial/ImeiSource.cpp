#include "serial/ValueSource.h"

namespace kestrune::serial {
namespace {

constexpr uint64_t SerialCount = 1000000; // six digits

class Imei final : public ValueSource {
public:
  Imei(std::string typeCode, uint64_t start) : TypeCode(std::move(typeCode)), Start(start) {}
  uint64_t Capacity() const override { return Start >= SerialCount ? 0 : SerialCount - Start; }
  SerialValue At(uint64_t position) const override {
    std::string serial = std::to_string(Start + position);
    std::string body = TypeCode + std::string(6 - serial.size(), '0') + serial;
    std::string text = body + char('0' + LuhnDigit(body));
    return {true, std::stoull(text), text};
  }
  std::string Origin() const override { return "imei:" + TypeCode + "+" + std::to_string(Start); }

private:
  std::string TypeCode;
  uint64_t Start;
};

} // namespace

int LuhnDigit(const std::string &digits) {
  // From the right, every second digit of the number with its check digit
  // appended is doubled: here that is the rightmost digit given, and every
  // second one before it.
  int sum = 0;
  bool twice = true;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it, twice = !twice) {
    int d = *it - '0';
    if (twice)
      d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return (10 - sum % 10) % 10;
}

std::unique_ptr<ValueSource> ImeiSource(std::string typeCode, uint64_t start) {
  return std::make_unique<Imei>(std::move(typeCode), start);
}

} // namespace kestrune::serial
