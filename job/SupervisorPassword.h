// The supervisor's password, kept as a salted hash: what the settings hold
// is "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in lower-case hex),
// never the password itself. Checking compares in constant time.
#pragma once

#include <string>

namespace kestrune::job {

constexpr unsigned PasswordIterations = 200000;

// The text to keep for a new password, with a new random salt; empty with
// why when it cannot be made (an empty password is refused).
std::string HashPassword(const std::string &password, std::string &why);

// Whether the password is the one kept as stored. A stored text that is no
// such hash matches nothing.
bool PasswordMatches(const std::string &password, const std::string &stored);

} // namespace kestrune::job
