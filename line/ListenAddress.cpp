#include "line/ListenAddress.h"

#include <charconv>

namespace kestrune::line {

std::optional<ListenAddress> ParseListenAddress(const std::string &text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    return std::nullopt;
  ListenAddress address;
  address.Host = text.substr(0, colon);
  if (address.Host.front() == '[') {
    if (address.Host.size() < 3 || address.Host.back() != ']')
      return std::nullopt;
    address.Host = address.Host.substr(1, address.Host.size() - 2);
  } else if (address.Host.find(':') != std::string::npos) {
    return std::nullopt; // an IPv6 address needs its brackets
  }
  const char *first = text.data() + colon + 1;
  const char *last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, address.Port);
  if (error != std::errc() || end != last || address.Port < 0 || address.Port > 65535)
    return std::nullopt;
  return address;
}

bool IsLoopback(const std::string &host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

} // namespace kestrune::line
