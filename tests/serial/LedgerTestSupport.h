// Scaffolding for the ledger tests: a temporary folder and pools whose
// values are counted the way a decimal counter field counts them.
#pragma once

#include "serial/SerialLedger.h"
#include "tests/records/RecordsTestSupport.h"

#include <filesystem>
#include <string>

namespace kestrune::serial::test {

// The ledger lives in the station's records file: the same folder as the
// records' tests use.
using records::test::TempDir;

// Values start, start + 1, ... as zero-padded decimal text of width digits.
PoolRequest CounterPool(const std::string &pool, const std::string &field, uint64_t start,
                        uint64_t capacity, int width = 10);

// Every position of a pool in one state, straight from the database file.
std::vector<uint64_t> PositionsIn(const std::string &path, const std::string &pool,
                                  const std::string &state);

} // namespace kestrune::serial::test
