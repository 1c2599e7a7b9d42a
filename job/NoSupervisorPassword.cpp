// A build without libcrypto keeps no supervisor's password: one cannot be
// set, and none matches, so nothing it guards is unlocked.
#include "job/SupervisorPassword.h"

namespace kestrune::job {

std::string HashPassword(const std::string &, std::string &why) {
  why = "this build cannot keep a supervisor's password (no libcrypto)";
  return {};
}

bool PasswordMatches(const std::string &, const std::string &) { return false; }

} // namespace kestrune::job
