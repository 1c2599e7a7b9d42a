// Where a field's values come from: an ordered, finite sequence of values
// the ledger hands out by position (0, 1, 2 ...).
#pragma once

#include "serial/SerialValue.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::serial {

class ValueSource {
public:
  virtual ~ValueSource() = default;
  // Positions 0 .. Capacity()-1 exist.
  virtual uint64_t Capacity() const = 0;
  virtual SerialValue At(uint64_t position) const = 0;
  // What fixes the value at each position (kind and first value), never
  // the end: the field's pool is named by it.
  virtual std::string Origin() const = 0;
  // Whether every value's size grows with its position, so that the last
  // one fitting the field means they all do (all but lists).
  virtual bool Ordered() const { return true; }
};

// start, start+step, ... up to last.
std::unique_ptr<ValueSource> CounterSource(uint64_t start, uint64_t step, uint64_t last);
// The lines of a list file, blank and '#' lines left out.
std::unique_ptr<ValueSource> ListSource(std::string name, std::vector<std::string> lines);
// An 8-digit type code, a 6-digit serial from start and the Luhn digit.
std::unique_ptr<ValueSource> ImeiSource(std::string typeCode, uint64_t start);
// MAC-48 addresses first .. last.
std::unique_ptr<ValueSource> MacSource(uint64_t first, uint64_t last);

// The Luhn check digit of a string of decimal digits.
int LuhnDigit(const std::string &digits);
// "02:00:00:00:00:01" (':' or '-' between the bytes) as a number.
bool ParseMac(const std::string &text, uint64_t &value);
std::string MacText(uint64_t value);
// A list file's values: its lines without blank and '#' lines, trimmed.
// bytes, when given: the file's bytes as read, the values taken from them.
bool ReadListFile(const std::filesystem::path &path, std::vector<std::string> &lines,
                  std::string &error, std::string *bytes = nullptr);

} // namespace kestrune::serial
