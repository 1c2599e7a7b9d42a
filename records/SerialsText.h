// A record's serial values as the stores keep them: one JSON object of
// field name to text, {"sn":"0000001000","mac":"02:00:00:00:00:01"}, in the
// scheme's order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestrune::records {

using SerialValues = std::vector<std::pair<std::string, std::string>>;

std::string SerialsToJson(const SerialValues &values);
// Nothing from text that is not such an object.
SerialValues SerialsFromJson(const std::string &text);

} // namespace kestrune::records
