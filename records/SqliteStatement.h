// A prepared SQLite statement, finalised on every path.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace kestrune::records {

class Statement {
public:
  Statement(sqlite3 *db, const std::string &sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &S, nullptr) != SQLITE_OK)
      S = nullptr;
  }
  ~Statement() { sqlite3_finalize(S); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;
  explicit operator bool() const { return S != nullptr; }
  sqlite3_stmt *get() const { return S; }
  void Text(int i, const std::string &v) {
    sqlite3_bind_text(S, i, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(S, i, v); }

private:
  sqlite3_stmt *S = nullptr;
};

} // namespace kestrune::records
