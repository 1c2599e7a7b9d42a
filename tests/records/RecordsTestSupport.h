// Scaffolding for the records tests: a temporary folder that goes away,
// and records filled the way a run fills them.
#pragma once

#include "records/Record.h"

#include <filesystem>
#include <string>

namespace kestrune::records::test {

class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::filesystem::path &Path() const { return Dir; }
  std::string File(const std::string &name) const { return (Dir / name).string(); }

private:
  std::filesystem::path Dir;
};

// A passed run on the given station and channel, started at the given time.
Record SampleRecord(const std::string &station, int channel, const std::string &started,
                    const std::string &outcome = "passed");

} // namespace kestrune::records::test
