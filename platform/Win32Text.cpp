#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {

std::wstring WideFromUtf8(const std::string &text) {
  if (text.empty())
    return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8FromWide(const wchar_t *text, size_t length) {
  if (length == 0)
    return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
  std::string narrow(size_t(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, int(length), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

} // namespace kestrune
