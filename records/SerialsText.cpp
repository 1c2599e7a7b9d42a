#include "records/SerialsText.h"

#include <nlohmann/json.hpp>

namespace kestrune::records {

std::string SerialsToJson(const SerialValues &values) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto &[field, text] : values)
    object[field] = text;
  // A list file's line need not be UTF-8: what is not is replaced.
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

SerialValues SerialsFromJson(const std::string &text) {
  SerialValues values;
  auto object = nlohmann::ordered_json::parse(text, nullptr, false);
  if (!object.is_object())
    return values;
  for (auto it = object.begin(); it != object.end(); ++it)
    if (it->is_string())
      values.emplace_back(it.key(), it->get<std::string>());
  return values;
}

} // namespace kestrune::records
