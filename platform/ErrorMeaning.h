// What an error code in a status text means. The status texts end in the
// platform's code in brackets, "ERROR 해당 COMM port 를 열 수 없습니다. (13)";
// the texts stay exactly so, and the front ends show the system's own words
// for the code beside them (a tool tip and the log in the window, a second
// line in the command line's output).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

// The code in brackets at the end of an "ERROR ..." text; nothing for any
// other text.
std::optional<uint32_t> StatusErrorCode(const std::string &statusText);

// The system's words for a code, with its symbolic name where the system
// has one: "(13) EACCES: Permission denied" on Linux, "(5) Access is
// denied." on Windows. "" for 0 and for codes the system does not know
// (the handset's own codes, such as 1200).
std::string SystemErrorMeaning(uint32_t code);

// The meaning of a status text's code, followed by the way to get access
// where the code says access was denied; "" when the text has no code the
// system knows.
std::string StatusTextMeaning(const std::string &statusText);

// The text followed by its meaning in brackets, for a line of a log; the
// text alone when it has none.
std::string WithMeaning(const std::string &statusText);

} // namespace kestrune
