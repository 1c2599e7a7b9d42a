// Waits until what was written to a file is on the disk, through a handle
// of its own: the ledger flushes its database's log this way without
// holding the database's write lock.
#pragma once

#include <string>

namespace kestrune::serial {

// True once flushed, or when the file does not exist (nothing to flush).
bool FlushFile(const std::string &path);

} // namespace kestrune::serial
