// A private server for the dashboard's tests, and records put on it the
// way stations send them.
#pragma once

#include "records/PgRecords.h"
#include "records/Uuid.h"
#include "tests/records/PgServer.h"
#include "tests/records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <memory>
#include <string>
#include <vector>

namespace kestrune::line::test {

using records::test::PgServer;

class LineServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (PgServer::BinDir().empty())
      GTEST_SKIP() << "PostgreSQL server programs are not installed; install the Debian "
                      "package postgresql";
    Server = std::make_unique<PgServer>();
    ASSERT_TRUE(Server->Start()) << Server->Error();
    Url = Server->Url();
    Connection = std::make_unique<pqxx::connection>(Url);
    Connection->set_variable("TimeZone", "'UTC'");
  }

  // A unit's run: outcome, text, started, serial values (none: {}).
  records::Record Run(const std::string &station, int channel, const std::string &started,
                      const std::string &outcome, const std::string &text = "",
                      std::vector<std::pair<std::string, std::string>> serials = {}) {
    records::Record r = records::test::SampleRecord(station, channel, started, outcome);
    r.FinalStatus = text.empty() ? (outcome == "passed" ? "download complete" : "COMM Closed")
                                 : text;
    r.Serials = std::move(serials);
    return r;
  }

  void Put(std::vector<records::Record> runs) {
    records::EnsurePgTable(*Connection);
    records::InsertPg(*Connection, std::move(runs));
  }

  void Exec(const std::string &sql) {
    pqxx::nontransaction work(*Connection);
    work.exec(sql);
  }

  std::unique_ptr<PgServer> Server;
  std::string Url;
  std::unique_ptr<pqxx::connection> Connection;
};

} // namespace kestrune::line::test
