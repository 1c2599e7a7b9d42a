// Where records are kept by default and which station writes them.
#pragma once

#include <string>

namespace kestrune::records {

// $XDG_DATA_HOME/Orv/Kestrune/records.sqlite (XDG_DATA_HOME defaults to
// ~/.local/share); on Windows %LOCALAPPDATA%\Orv\Kestrune\records.sqlite.
// Empty when neither the variable nor a home directory is known.
std::string DefaultRecordsPath();

// Where records that could not be written to the database at path wait for
// the next start: records.sqlite -> records.unwritten.sqlite, beside it.
std::string SpillPathFor(const std::string &path);

// The machine's host name; "unknown" when it cannot be read.
std::string HostStationName();

} // namespace kestrune::records
