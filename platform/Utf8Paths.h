// File names are UTF-8 everywhere in this program. These open them the same
// way on every platform: on Windows the text becomes UTF-16 for the wide
// system calls (the narrow ones would read it in the ANSI code page).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace kestrune {

// The path a UTF-8 name stands for.
inline std::filesystem::path PathFromUtf8(const std::string &name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// The UTF-8 text of a path.
inline std::string Utf8FromPath(const std::filesystem::path &path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// fopen for a UTF-8 name; errno is set on failure.
std::FILE *OpenFileUtf8(const std::string &name, const char *mode);

// Whether the file exists and this process may read it.
bool CanReadFileUtf8(const std::string &name);

} // namespace kestrune
