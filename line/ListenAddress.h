// --listen's HOST:PORT, and whether it keeps the dashboard on this machine.
#pragma once

#include <optional>
#include <string>

namespace kestrune::line {

struct ListenAddress {
  std::string Host;
  int Port = 0;
};

// "127.0.0.1:8080", "[::1]:8080", "0.0.0.0:80"; nothing for any other text.
std::optional<ListenAddress> ParseListenAddress(const std::string &text);

// 127.0.0.0/8, ::1 and localhost.
bool IsLoopback(const std::string &host);

} // namespace kestrune::line
