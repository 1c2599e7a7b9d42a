// The system's words beside an error code of a status text.
#include "platform/ErrorMeaning.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace kestrune {
namespace {

std::string OpenFailure(int code) {
  return "ERROR 해당 COMM port 를 열 수 없습니다. (" + std::to_string(code) + ")";
}

TEST(ErrorMeaning, TheCodeIsTakenFromTheBracketsAtTheEndOfAnErrorText) {
  EXPECT_EQ(StatusErrorCode(OpenFailure(16)), 16u);
  EXPECT_EQ(StatusErrorCode("ERROR Could not write to COMM port (4294967295)"), 4294967295u);
  for (const char *text : {"ERROR Could not write to COMM port (4294967296)", "ERROR x ()",
                           "ERROR x (1a)", "ERROR x (12", "Sending block 1 of 8",
                           "다운로드 완료 (2)", "ERROR", "", "(2)"})
    EXPECT_EQ(StatusErrorCode(text), std::nullopt) << text;
}

#ifndef _WIN32
TEST(ErrorMeaning, SystemCodesGetTheirNameAndWordsOthersNothing) {
  for (int code : {ENOENT, EIO, EACCES, EBUSY}) {
    std::string meaning = SystemErrorMeaning(uint32_t(code));
    EXPECT_EQ(meaning.rfind("(" + std::to_string(code) + ") E", 0), 0u) << meaning;
    EXPECT_NE(meaning.find(std::strerror(code)), std::string::npos) << meaning;
  }
  EXPECT_EQ(SystemErrorMeaning(EACCES), "(13) EACCES: Permission denied");
  EXPECT_EQ(SystemErrorMeaning(0), "");
  EXPECT_EQ(SystemErrorMeaning(1200), "") << "the RAM program's own code";
  EXPECT_EQ(SystemErrorMeaning(4000000000u), "");
}

TEST(ErrorMeaning, AccessDeniedSaysHowToGetAccessAndTheTextStaysAsItWas) {
  std::string denied = StatusTextMeaning(OpenFailure(EACCES));
  EXPECT_EQ(denied.rfind(SystemErrorMeaning(EACCES), 0), 0u) << denied;
  EXPECT_NE(denied.find("dialout"), std::string::npos) << denied;
  EXPECT_EQ(StatusTextMeaning(OpenFailure(EBUSY)), SystemErrorMeaning(EBUSY));
  EXPECT_EQ(WithMeaning(OpenFailure(ENOENT)),
            OpenFailure(ENOENT) + "  [(2) ENOENT: No such file or directory]");
  EXPECT_EQ(WithMeaning("ERROR Flash Erase Fail !! (0)"), "ERROR Flash Erase Fail !! (0)");
  EXPECT_EQ(WithMeaning("COMM Closed"), "COMM Closed");
}
#else
// Windows' own words for its codes (GetLastError), in UTF-8, without the
// line break the system ends them with.
TEST(ErrorMeaning, SystemCodesGetTheSystemsWords) {
  for (uint32_t code : {2u, 5u, 31u}) {
    std::string meaning = SystemErrorMeaning(code);
    std::string prefix = "(" + std::to_string(code) + ") ";
    EXPECT_EQ(meaning.rfind(prefix, 0), 0u) << meaning;
    EXPECT_GT(meaning.size(), prefix.size() + 3) << meaning;
    EXPECT_NE(meaning.back(), '\n') << meaning;
    EXPECT_NE(meaning.back(), '\r') << meaning;
  }
  EXPECT_EQ(SystemErrorMeaning(0), "");
}

TEST(ErrorMeaning, TheTextStaysAsItWasWithTheMeaningBeside) {
  std::string text = OpenFailure(5);
  EXPECT_EQ(WithMeaning(text), text + "  [" + SystemErrorMeaning(5) + "]");
  EXPECT_EQ(WithMeaning("ERROR Flash Erase Fail !! (0)"), "ERROR Flash Erase Fail !! (0)");
  EXPECT_EQ(WithMeaning("COMM Closed"), "COMM Closed");
}
#endif

} // namespace
} // namespace kestrune
