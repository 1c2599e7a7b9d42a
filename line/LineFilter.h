// The filters every dashboard query takes, read from a request's query
// parameters: a time range, a station, a job and an image digest. They go
// to the server as statement parameters only, never into the SQL text.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace kestrune::line {

struct LineFilter {
  std::string From;    // UTC, normalised; empty: no lower bound
  std::string To;      // UTC, normalised; empty: no upper bound
  std::string Station; // exact name; empty: every station
  std::string Job;     // the job's name; empty: every job
  std::string Image;   // image_sha256 or sent_sha256; empty: every image
};

// from, to, station, job and image from the query; an unreadable time
// gives why instead.
std::optional<LineFilter> FilterFromQuery(const std::multimap<std::string, std::string> &query,
                                          std::string &why);

} // namespace kestrune::line
