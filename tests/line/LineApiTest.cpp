#include "line/LineServer.h"
#include "line/ListenAddress.h"
#include "records/PgStationState.h"
#include "tests/line/LineFixture.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <thread>

namespace kestrune::line::test {
namespace {

using nlohmann::json;

class LineApi : public LineServerTest {
protected:
  void Serve(LineServerOptions options) {
    options.Port = 0;
    Database = std::make_unique<LineDatabase>(Url);
    Http = std::make_unique<LineServer>(*Database, options);
    std::string why;
    ASSERT_TRUE(Http->Bind(why)) << why;
    Thread = std::thread([this] { Http->Serve(); });
    Client = std::make_unique<httplib::Client>("127.0.0.1", Http->BoundPort());
  }
  void TearDown() override {
    if (Http)
      Http->Stop();
    if (Thread.joinable())
      Thread.join();
    LineServerTest::TearDown();
  }
  // Status and body.
  std::pair<int, json> Get(const std::string &path, const httplib::Headers &headers = {}) {
    auto result = Client->Get(path.c_str(), headers);
    if (!result)
      return {0, nullptr};
    return {result->status, json::parse(result->body, nullptr, false)};
  }

  std::unique_ptr<LineDatabase> Database;
  std::unique_ptr<LineServer> Http;
  std::thread Thread;
  std::unique_ptr<httplib::Client> Client;
};

TEST_F(LineApi, AnswersEachQuestionWithTheFiltersOfItsQuery) {
  Put({Run("A", 1, "2026-12-08T06:00:00.000Z", "passed"),
       Run("A", 1, "2026-12-08T06:01:00.000Z", "failed", "ERROR X (3)"),
       Run("B", 2, "2026-12-08T06:02:00.000Z", "failed", "ERROR Y (4)")});
  records::EnsureStateTable(*Connection);
  records::WriteStationState(*Connection, "A", {{1, "/dev/ttyUSB0", "programming", 50}});
  Serve({});

  auto [status, stations] = Get("/api/stations");
  ASSERT_EQ(status, 200);
  ASSERT_EQ(stations.size(), 1u);
  EXPECT_EQ(stations[0]["station"], "A");
  EXPECT_TRUE(stations[0]["online"]);
  EXPECT_EQ(stations[0]["channels"][0]["percent"], 50.0);

  // Without a range the counts are the shift's: these runs are older.
  EXPECT_EQ(Get("/api/yield").second, json::array());
  json yield = Get("/api/yield?all=1").second;
  EXPECT_EQ(yield.size(), 2u) << yield.dump();
  yield = Get("/api/yield?from=2026-12-08&station=A").second;
  ASSERT_EQ(yield.size(), 1u) << yield.dump();
  EXPECT_EQ(yield[0]["passed"], 1);
  EXPECT_EQ(yield[0]["failed"], 1);
  EXPECT_EQ(yield[0]["first_pass_yield"], 0.5);
  json failures = Get("/api/failures?from=2026-12-08T06:00:30Z").second;
  EXPECT_EQ(failures, json::parse(R"([{"text":"ERROR X","count":1},{"text":"ERROR Y","count":1}])"));
  EXPECT_EQ(Get("/api/hourly").second.size(), 8u);

  auto [bad, why] = Get("/api/yield?from=yesterday");
  EXPECT_EQ(bad, 400);
  EXPECT_NE(why["error"].get<std::string>().find("cannot read the time 'yesterday'"),
            std::string::npos);
  EXPECT_EQ(Get("/api/search?q=' OR true --").second, json::array());
}

TEST_F(LineApi, WithATokenEveryRequestMustCarryIt) {
  Serve({.Token = "s3cret"});
  EXPECT_EQ(Get("/api/stations").first, 401);
  EXPECT_EQ(Get("/").first, 401);
  EXPECT_EQ(Get("/api/stations?token=wrong").first, 401);
  EXPECT_EQ(Get("/api/stations?token=s3cre").first, 401);
  EXPECT_EQ(Get("/api/stations?token=s3cret").first, 200);
  EXPECT_EQ(Get("/api/stations", {{"Authorization", "Bearer s3cret"}}).first, 200);
  EXPECT_EQ(Get("/api/stations", {{"X-Kestrune-Token", "s3cret"}}).first, 200);
  auto page = Client->Get("/?token=s3cret");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<script src=\"/app.js\""), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"),
            std::string::npos);
}

TEST_F(LineApi, AServerGoneIsSaidWithItsReason) {
  Serve({});
  EXPECT_EQ(Get("/api/stations").first, 200);
  Server->Stop();
  auto [status, body] = Get("/api/stations");
  EXPECT_EQ(status, 503);
  EXPECT_EQ(body["error"].get<std::string>().rfind("cannot read the line's server: ", 0), 0u)
      << body.dump();
  // Back again: the broken connection is not used again.
  ASSERT_TRUE(Server->Start()) << Server->Error();
  EXPECT_EQ(Get("/api/stations").first, 200);
}

TEST(LineListen, HostAndPortAndWhatStaysOnThisMachine) {
  auto a = ParseListenAddress("127.0.0.1:8080");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Host, "127.0.0.1");
  EXPECT_EQ(a->Port, 8080);
  auto six = ParseListenAddress("[::1]:80");
  ASSERT_TRUE(six);
  EXPECT_EQ(six->Host, "::1");
  for (const char *bad : {"8080", ":8080", "host:", "host:http", "host:70000", "::1:80", "[]:80"})
    EXPECT_FALSE(ParseListenAddress(bad)) << bad;
  EXPECT_TRUE(IsLoopback("127.0.0.1"));
  EXPECT_TRUE(IsLoopback("localhost"));
  EXPECT_TRUE(IsLoopback("::1"));
  EXPECT_FALSE(IsLoopback("0.0.0.0"));
  EXPECT_FALSE(IsLoopback("192.168.1.20"));
  EXPECT_TRUE(SameToken("abc", "abc"));
  EXPECT_FALSE(SameToken("abcd", "abc"));
  EXPECT_FALSE(SameToken("", ""));
}

} // namespace
} // namespace kestrune::line::test
