#include "line/LineDatabase.h"

#include "records/ServerAddress.h"

#include <pqxx/pqxx>

namespace kestrune::line {
namespace {

constexpr size_t KeptOpen = 8;
constexpr std::chrono::seconds SchemaAge{30};

} // namespace

LineDatabase::LineDatabase(std::string url)
    : Url(records::WithClientLimits(url)), Given(std::move(url)) {}

std::string LineDatabase::ShownAddress() const { return records::WithoutPassword(Given, Given); }

std::unique_ptr<pqxx::connection> LineDatabase::Take() {
  {
    std::lock_guard lock(Mutex);
    if (!Idle.empty()) {
      auto connection = std::move(Idle.back());
      Idle.pop_back();
      return connection;
    }
  }
  auto connection = std::make_unique<pqxx::connection>(Url);
  // Every time the dashboard reads or shows is UTC.
  connection->set_variable("TimeZone", "'UTC'");
  return connection;
}

void LineDatabase::Give(std::unique_ptr<pqxx::connection> connection) {
  std::lock_guard lock(Mutex);
  if (Idle.size() < KeptOpen)
    Idle.push_back(std::move(connection));
}

void LineDatabase::With(const std::function<void(pqxx::connection &, const LineSchema &)> &use) {
  auto connection = Take();
  LineSchema schema;
  bool readSchema = false;
  {
    std::lock_guard lock(Mutex);
    const auto now = std::chrono::steady_clock::now();
    readSchema = SchemaRead == std::chrono::steady_clock::time_point{} ||
                 now - SchemaRead > SchemaAge || !Schema.Records || !Schema.State;
    schema = Schema;
  }
  // A connection that failed is not given back: it may be broken.
  if (readSchema) {
    schema = ReadLineSchema(*connection);
    std::lock_guard lock(Mutex);
    Schema = schema;
    SchemaRead = std::chrono::steady_clock::now();
  }
  use(*connection, schema);
  Give(std::move(connection));
}

} // namespace kestrune::line
