// The supervisor's password kept as a salted hash: the right password
// matches, a wrong one and a damaged hash do not, and what is kept shows
// nothing of the password.
#include "image/HexText.h"
#include "job/SupervisorPassword.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::job;

TEST(SupervisorPassword, TheRightPasswordMatchesAndNoOtherDoes) {
  std::string why;
  const std::string password = "Line-A supervisor 7";
  const std::string stored = HashPassword(password, why);
  ASSERT_FALSE(stored.empty()) << why;
  EXPECT_EQ(stored.rfind("pbkdf2-sha256$200000$", 0), 0u) << stored;
  EXPECT_TRUE(PasswordMatches(password, stored));
  for (const std::string &wrong :
       {std::string("line-a supervisor 7"), std::string("Line-A supervisor 7 "),
        std::string("Line-A supervisor "), std::string()})
    EXPECT_FALSE(PasswordMatches(wrong, stored)) << "'" << wrong << "'";
}

TEST(SupervisorPassword, WhatIsKeptHoldsNeitherThePasswordNorTheSameHashTwice) {
  std::string why;
  const std::string password = "hunter2hunter2";
  const std::string first = HashPassword(password, why), second = HashPassword(password, why);
  ASSERT_FALSE(first.empty()) << why;
  EXPECT_NE(first, second); // a salt of its own each time
  EXPECT_TRUE(PasswordMatches(password, second));
  const std::string hex = LowerHexBytes(reinterpret_cast<const uint8_t *>(password.data()),
                                        password.size());
  for (const std::string &kept : {first, second}) {
    EXPECT_EQ(kept.find(password), std::string::npos);
    EXPECT_EQ(kept.find(hex), std::string::npos);
  }
  EXPECT_TRUE(HashPassword("", why).empty());
  EXPECT_FALSE(why.empty());
}

TEST(SupervisorPassword, ADamagedOrForeignHashMatchesNothing) {
  std::string why;
  const std::string stored = HashPassword("pw", why);
  ASSERT_FALSE(stored.empty());
  std::string flipped = stored;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  std::string fewer = stored;
  fewer.replace(stored.find("200000"), 6, "199999");
  for (const std::string &bad :
       {flipped, fewer, stored.substr(0, stored.size() - 2), std::string("pw"), std::string(),
        std::string("pbkdf2-sha256$0$00$") + std::string(64, '0'),
        "md5" + stored.substr(stored.find('$'))})
    EXPECT_FALSE(PasswordMatches("pw", bad)) << bad;
}
