// Random (version 4) UUIDs in their usual lower-case text form.
#pragma once

#include <string>

namespace kestrune::records {

std::string NewUuid();

} // namespace kestrune::records
