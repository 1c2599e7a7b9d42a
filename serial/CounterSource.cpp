#include "serial/ValueSource.h"

namespace kestrune::serial {
namespace {

class Counter final : public ValueSource {
public:
  Counter(uint64_t start, uint64_t step, uint64_t last) : Start(start), Step(step), Last(last) {}
  uint64_t Capacity() const override { return Last < Start ? 0 : (Last - Start) / Step + 1; }
  SerialValue At(uint64_t position) const override {
    uint64_t n = Start + position * Step;
    return {true, n, std::to_string(n)};
  }
  std::string Origin() const override {
    return "counter:" + std::to_string(Start) + "+" + std::to_string(Step);
  }

private:
  uint64_t Start, Step, Last;
};

} // namespace

std::unique_ptr<ValueSource> CounterSource(uint64_t start, uint64_t step, uint64_t last) {
  return std::make_unique<Counter>(start, step, last);
}

} // namespace kestrune::serial
