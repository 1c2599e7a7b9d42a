// UTF-8 (inside the program) to UTF-16 (the wide Win32 calls) and back.
// Text that is not valid in the source form is replaced with U+FFFD.
#pragma once

#include <string>

namespace kestrune {

std::wstring WideFromUtf8(const std::string &text);
std::string Utf8FromWide(const wchar_t *text, size_t length);
inline std::string Utf8FromWide(const std::wstring &text) {
  return Utf8FromWide(text.data(), text.size());
}

} // namespace kestrune
