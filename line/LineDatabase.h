// The dashboard's connections to the line's server: a few kept open and
// shared by the request threads, each with the client limits and UTC as
// its time zone; one that broke is dropped and the next request opens a new
// one. What the server holds is looked at again now and then, so that a
// dashboard started before any station sees the tables once they come.
#pragma once

#include "line/LineSchema.h"

#include <pqxx/connection>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrune::line {

class LineDatabase {
public:
  explicit LineDatabase(std::string url);

  // Runs use on a connection of its own; throws what opening or use threw.
  void With(const std::function<void(pqxx::connection &, const LineSchema &)> &use);
  // The address with its password hidden, for messages.
  std::string ShownAddress() const;

private:
  std::unique_ptr<pqxx::connection> Take();
  void Give(std::unique_ptr<pqxx::connection> connection);

  const std::string Url;   // with the client limits
  const std::string Given; // as the operator named it
  std::mutex Mutex;
  std::vector<std::unique_ptr<pqxx::connection>> Idle;
  LineSchema Schema;
  std::chrono::steady_clock::time_point SchemaRead{};
};

} // namespace kestrune::line
