// The line's server as the operator names it: a postgresql:// or
// postgres:// URL (the scheme in any case) or libpq's keyword form
// (host=... dbname=...). Kestrune's client limits are merged with whatever
// the address sets itself, and a password is kept out of every text shown.
#pragma once

#include <string>

namespace kestrune::records {

// True for a URL with the server scheme, or a keyword form libpq reads.
bool IsServerUrl(const std::string &text);

// Empty when libpq can read the address; otherwise why not, without the
// password.
std::string ServerAddressProblem(const std::string &address);

// The address as libpq's keyword form, with these added unless it sets them:
// connect_timeout=5, tcp_user_timeout=10000, keepalives_idle=10, and for
// every statement the server's statement_timeout=20s and lock_timeout=10s
// (through options, joined to any the address has). An address libpq cannot
// read comes back as it is; connecting then says why.
std::string WithClientLimits(const std::string &address);

// text with the address's password replaced by "***".
std::string WithoutPassword(const std::string &text, const std::string &address);

} // namespace kestrune::records
