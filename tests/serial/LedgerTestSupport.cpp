#include "tests/serial/LedgerTestSupport.h"

#include <sqlite3.h>

#include <cstdlib>
#include <stdexcept>

namespace kestrune::serial::test {

PoolRequest CounterPool(const std::string &pool, const std::string &field, uint64_t start,
                        uint64_t capacity, int width) {
  PoolRequest request;
  request.Pool = pool;
  request.Field = field;
  request.Capacity = capacity;
  request.TextAt = [start, width](uint64_t position) {
    std::string digits = std::to_string(start + position);
    return std::string(size_t(std::max(0, width - int(digits.size()))), '0') + digits;
  };
  return request;
}

std::vector<uint64_t> PositionsIn(const std::string &path, const std::string &pool,
                                  const std::string &state) {
  std::vector<uint64_t> out;
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path);
  }
  sqlite3_stmt *s = nullptr;
  sqlite3_prepare_v2(db, "SELECT position FROM serial_values WHERE pool = ? AND state = ? "
                         "ORDER BY position", -1, &s, nullptr);
  sqlite3_bind_text(s, 1, pool.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 2, state.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(s) == SQLITE_ROW)
    out.push_back(uint64_t(sqlite3_column_int64(s, 0)));
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

} // namespace kestrune::serial::test
