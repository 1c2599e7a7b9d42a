#include "records/ServerAddress.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

namespace kestrune::records {
namespace {

bool StartsWithNoCase(const std::string &text, const std::string &prefix) {
  if (text.size() < prefix.size())
    return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
      return false;
  return true;
}

bool HasServerScheme(const std::string &text) {
  return StartsWithNoCase(text, "postgresql://") || StartsWithNoCase(text, "postgres://");
}

// libpq matches the scheme in lower case only.
std::string LowerScheme(const std::string &text) {
  if (!HasServerScheme(text))
    return text;
  std::string out = text;
  const size_t end = out.find("://");
  std::transform(out.begin(), out.begin() + std::ptrdiff_t(end), out.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

using Options = std::map<std::string, std::string>;

struct ConninfoFree {
  void operator()(PQconninfoOption *o) const { PQconninfoFree(o); }
};

// Reads the address; false with why (libpq's text) when it cannot.
bool Parse(const std::string &address, Options &out, std::string &why) {
  char *error = nullptr;
  std::unique_ptr<PQconninfoOption, ConninfoFree> options(
      PQconninfoParse(LowerScheme(address).c_str(), &error));
  if (!options) {
    why = error ? error : "cannot read the address";
    PQfreemem(error);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
      why.pop_back();
    return false;
  }
  for (PQconninfoOption *o = options.get(); o->keyword; ++o)
    if (o->val)
      out[o->keyword] = o->val;
  return true;
}

// The password as it is written in the address, found without libpq so
// that a malformed address is covered too.
std::string WrittenPassword(const std::string &address) {
  if (address.find("://") != std::string::npos) {
    const size_t start = address.find("://") + 3;
    const size_t at = address.find('@', start);
    if (at == std::string::npos)
      return {};
    const size_t colon = address.find(':', start);
    if (colon == std::string::npos || colon > at)
      return {};
    return address.substr(colon + 1, at - colon - 1);
  }
  const size_t key = address.find("password");
  if (key == std::string::npos)
    return {};
  size_t v = address.find('=', key);
  if (v == std::string::npos)
    return {};
  ++v;
  while (v < address.size() && address[v] == ' ')
    ++v;
  if (v < address.size() && address[v] == '\'') {
    size_t end = address.find('\'', v + 1);
    return address.substr(v + 1, end == std::string::npos ? std::string::npos : end - v - 1);
  }
  size_t end = address.find(' ', v);
  return address.substr(v, end == std::string::npos ? std::string::npos : end - v);
}

void ReplaceAll(std::string &text, const std::string &part, const std::string &with) {
  if (part.empty())
    return;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + with.size()))
    text.replace(at, part.size(), with);
}

std::string Quoted(const std::string &value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "'";
}

} // namespace

bool IsServerUrl(const std::string &text) {
  if (HasServerScheme(text))
    return true;
  // The keyword form: libpq refuses any word it does not know, so a file
  // name with an '=' in it is not taken for one.
  if (text.find('=') == std::string::npos)
    return false;
  Options options;
  std::string why;
  return Parse(text, options, why);
}

std::string ServerAddressProblem(const std::string &address) {
  Options options;
  std::string why;
  if (Parse(address, options, why))
    return {};
  return WithoutPassword(why, address);
}

std::string WithClientLimits(const std::string &address) {
  Options options;
  std::string why;
  if (!Parse(address, options, why))
    return address;
  options.emplace("connect_timeout", "5");
  options.emplace("tcp_user_timeout", "10000");
  options.emplace("keepalives_idle", "10");
  std::string &server = options["options"];
  if (server.find("statement_timeout") == std::string::npos)
    server += std::string(server.empty() ? "" : " ") + "-c statement_timeout=20s";
  if (server.find("lock_timeout") == std::string::npos)
    server += " -c lock_timeout=10s";
  std::string out;
  for (const auto &[key, value] : options)
    out += (out.empty() ? "" : " ") + key + "=" + Quoted(value);
  return out;
}

std::string WithoutPassword(const std::string &text, const std::string &address) {
  std::string out = text;
  ReplaceAll(out, WrittenPassword(address), "***");
  Options options;
  std::string why;
  if (Parse(address, options, why) && options.count("password"))
    ReplaceAll(out, options["password"], "***");
  return out;
}

} // namespace kestrune::records
