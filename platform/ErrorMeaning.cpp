#include "platform/ErrorMeaning.h"

#include "platform/PortAccessHint.h"

#include <cstring>
#include <iterator>

#ifdef _WIN32
#include "platform/Win32Text.h"

#include <windows.h>
#endif

namespace kestrune {

std::optional<uint32_t> StatusErrorCode(const std::string &statusText) {
  if (statusText.rfind("ERROR", 0) != 0 || statusText.size() < 3 || statusText.back() != ')')
    return std::nullopt;
  size_t open = statusText.rfind('(');
  if (open == std::string::npos)
    return std::nullopt;
  size_t digits = statusText.size() - 2 - open;
  if (digits == 0 || digits > 10)
    return std::nullopt;
  uint64_t code = 0;
  for (size_t i = open + 1; i + 1 < statusText.size(); ++i) {
    char c = statusText[i];
    if (c < '0' || c > '9')
      return std::nullopt;
    code = code * 10 + uint64_t(c - '0');
  }
  if (code > UINT32_MAX)
    return std::nullopt;
  return uint32_t(code);
}

std::string SystemErrorMeaning(uint32_t code) {
  if (code == 0)
    return {};
  std::string prefix = "(";
  prefix += std::to_string(code);
  prefix += ") ";
#ifdef _WIN32
  // The system's words in its own language: UTF-16, made UTF-8 here.
  wchar_t buffer[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, DWORD(std::size(buffer)), nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                        buffer[length - 1] == L' '))
    --length;
  if (length == 0)
    return {};
  return prefix + Utf8FromWide(buffer, length);
#else
  if (code > uint32_t(INT32_MAX))
    return {};
  // Both return nothing for a code the C library does not know.
  const char *name = strerrorname_np(int(code));
  const char *description = strerrordesc_np(int(code));
  if (name == nullptr || description == nullptr)
    return {};
  return prefix + name + ": " + description;
#endif
}

std::string StatusTextMeaning(const std::string &statusText) {
  std::optional<uint32_t> code = StatusErrorCode(statusText);
  if (!code)
    return {};
  std::string meaning = SystemErrorMeaning(*code);
  std::string hint = PortAccessHint(statusText);
  if (meaning.empty() || hint.empty())
    return meaning;
  return meaning + ". " + hint;
}

std::string WithMeaning(const std::string &statusText) {
  std::string meaning = StatusTextMeaning(statusText);
  return meaning.empty() ? statusText : statusText + "  [" + meaning + "]";
}

} // namespace kestrune
