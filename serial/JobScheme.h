// A production job's serial scheme, read once when the job is opened: the
// scheme written inline in the job, or the scheme file it names, whose
// bytes must match the digest the job pins. The command line and the
// window both take a job's scheme from here, so both hold it to the same
// checks.
#pragma once

#include "job/JobFile.h"
#include "serial/SerialScheme.h"

#include <string>

namespace kestrune::serial {

// False with the operator's text when the job's scheme cannot be used; a job
// without a scheme leaves scheme empty and returns true.
bool ReadJobScheme(const job::JobFile &job, SerialScheme &scheme, std::string &error);

} // namespace kestrune::serial
