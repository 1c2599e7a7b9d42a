#include "line/LineFilter.h"

#include "records/RecordTime.h"

namespace kestrune::line {
namespace {

std::string Value(const std::multimap<std::string, std::string> &query, const char *name) {
  auto it = query.find(name);
  return it == query.end() ? std::string() : it->second;
}

} // namespace

std::optional<LineFilter> FilterFromQuery(const std::multimap<std::string, std::string> &query,
                                          std::string &why) {
  LineFilter filter;
  for (auto [name, target] : {std::pair{"from", &filter.From}, std::pair{"to", &filter.To}}) {
    const std::string text = Value(query, name);
    if (text.empty())
      continue;
    auto time = records::NormaliseSince(text);
    if (!time) {
      why = std::string("cannot read the time '") + text + "' of " + name +
            " (use 2026-12-08 or 2026-12-08T06:00:00, UTC)";
      return std::nullopt;
    }
    *target = *time;
  }
  filter.Station = Value(query, "station");
  filter.Job = Value(query, "job");
  filter.Image = Value(query, "image");
  return filter;
}

} // namespace kestrune::line
