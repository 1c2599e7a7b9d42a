// Server addresses in every form libpq reads take Kestrune's limits without
// losing their own options, and no text made from one shows its password.
#include "records/ServerAddress.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <map>
#include <memory>

using namespace kestrune::records;

namespace {

// What libpq itself reads from the merged address.
std::map<std::string, std::string> Read(const std::string &conninfo) {
  char *error = nullptr;
  PQconninfoOption *options = PQconninfoParse(conninfo.c_str(), &error);
  EXPECT_NE(options, nullptr) << (error ? error : "") << " in " << conninfo;
  PQfreemem(error);
  std::map<std::string, std::string> out;
  for (PQconninfoOption *o = options; o && o->keyword; ++o)
    if (o->val)
      out[o->keyword] = o->val;
  PQconninfoFree(options);
  return out;
}

TEST(ServerAddress, EveryFormIsRecognisedAndOtherTextsAreNot) {
  for (const char *address :
       {"postgresql://h/db", "postgres://h/db", "POSTGRESQL://h/db", "PostgreS://h/db",
        "host=h dbname=d", "dbname = 'my db' user=u"})
    EXPECT_TRUE(IsServerUrl(address)) << address;
  for (const char *other : {"records.sqlite", "/var/lib/line.sqlite", "./POSTGRESQL:/x",
                            "a=b.sqlite", "mysql://h/db", ""})
    EXPECT_FALSE(IsServerUrl(other)) << other;
}

TEST(ServerAddress, LimitsMergeWithTheAddressesOwnOptionsWhateverTheirForm) {
  for (const char *address :
       {"postgresql://u@h:5433/db?sslmode=disable&", "postgresql://u@h:5433/db?sslmode=disable",
        "POSTGRESQL://u@h:5433/db?sslmode=disable&", "postgres://u@h:5433/db?sslmode=disabl%65",
        "host=h port=5433 dbname=db user=u sslmode=disable"}) {
    auto read = Read(WithClientLimits(address));
    EXPECT_EQ(read["host"], "h") << address;
    EXPECT_EQ(read["port"], "5433") << address;
    EXPECT_EQ(read["dbname"], "db") << address;
    EXPECT_EQ(read["user"], "u") << address;
    EXPECT_EQ(read["sslmode"], "disable") << address;
    EXPECT_EQ(read["connect_timeout"], "5") << address;
    EXPECT_EQ(read["tcp_user_timeout"], "10000") << address;
    EXPECT_EQ(read["keepalives_idle"], "10") << address;
    EXPECT_EQ(read["options"], "-c statement_timeout=20s -c lock_timeout=10s") << address;
  }
  // The address's own limits and server options stay as they are.
  auto own = Read(WithClientLimits(
      "postgresql://h/db?connect_timeout=2&options=-c%20lock_timeout%3D1s%20-c%20search_path%3Dq"));
  EXPECT_EQ(own["connect_timeout"], "2");
  EXPECT_EQ(own["options"], "-c lock_timeout=1s -c search_path=q -c statement_timeout=20s");
  // Quotes and backslashes in values survive the keyword form.
  auto quoted = Read(WithClientLimits("host=h dbname='it\\'s' application_name='a\\\\b'"));
  EXPECT_EQ(quoted["dbname"], "it's");
  EXPECT_EQ(quoted["application_name"], "a\\b");
}

TEST(ServerAddress, NoTextMadeFromAnAddressShowsItsPassword) {
  const std::string malformed = "postgresql://u:SECRET@[::1/db";
  std::string problem = ServerAddressProblem(malformed);
  EXPECT_FALSE(problem.empty());
  EXPECT_EQ(problem.find("SECRET"), std::string::npos) << problem;
  EXPECT_NE(problem.find("u:***@"), std::string::npos) << problem;

  const std::string badEscape = "postgresql://u:SE%zzCRET@h/db";
  problem = ServerAddressProblem(badEscape);
  EXPECT_FALSE(problem.empty());
  EXPECT_EQ(problem.find("CRET"), std::string::npos) << problem;

  // Escaped in the URL, plain in the merged address and its messages.
  const std::string escaped = "postgresql://u:p%40ssw0rd@h/db";
  const std::string merged = WithClientLimits(escaped);
  EXPECT_EQ(Read(merged)["password"], "p@ssw0rd");
  for (const std::string &text : {merged, escaped, std::string("connection to p@ssw0rd failed")}) {
    std::string shown = WithoutPassword(text, escaped);
    EXPECT_EQ(shown.find("ssw0rd"), std::string::npos) << shown;
  }
  const std::string keywords = "host=h password='top secret' dbname=d";
  EXPECT_EQ(WithoutPassword(WithClientLimits(keywords), keywords).find("top secret"),
            std::string::npos);
  EXPECT_TRUE(ServerAddressProblem(keywords).empty());
}

} // namespace
