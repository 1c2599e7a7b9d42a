// The folders whose public keys (*.pem) a station trusts to sign jobs.
#pragma once

#include <string>
#include <vector>

namespace kestrune::job {

// Linux: /etc/kestrune/trusted-keys and $XDG_CONFIG_HOME/Orv/Kestrune/
// trusted-keys (XDG_CONFIG_HOME defaults to ~/.config). Windows:
// %PROGRAMDATA%\Kestrune\trusted-keys and %APPDATA%\Orv\Kestrune\trusted-keys.
std::vector<std::string> DefaultTrustedKeyFolders();

} // namespace kestrune::job
