#include "records/RecordTime.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace kestrune::records {

std::optional<std::string> NormaliseSince(const std::string &text) {
  // The shape of a full time; a given value must follow it for its length.
  static const std::string Shape = "dddd-dd-ddTdd:dd:dd.ddd";
  std::string value = text;
  if (!value.empty() && (value.back() == 'Z' || value.back() == 'z'))
    value.pop_back();
  if (value.size() > 10 && value[10] == ' ')
    value[10] = 'T';
  // A date, date and hour:minute, with seconds, or with milliseconds.
  if (value.size() != 10 && value.size() != 16 && value.size() != 19 && value.size() != 23)
    return std::nullopt;
  for (size_t i = 0; i < value.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(value[i])) != 0;
    if (Shape[i] == 'd' ? !digit : value[i] != Shape[i])
      return std::nullopt;
  }
  int month = std::stoi(value.substr(5, 2)), day = std::stoi(value.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31)
    return std::nullopt;
  return value;
}

} // namespace kestrune::records
