#include "cli/Console.h"
#include "platform/Win32Text.h"

#include <windows.h>

#include <shellapi.h>

namespace kestrune {
namespace {

bool VirtualTerminal = false;

// Turns on escape-sequence processing for one console handle; false when
// the handle is no console or the console is too old to have it.
bool EnableVirtualTerminal(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode))
    return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
    return true;
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace

Utf8Arguments::Utf8Arguments(int argc, char **argv) {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 0; i < argc; ++i)
      Texts.emplace_back(argv[i]);
  } else {
    for (int i = 0; i < count; ++i)
      Texts.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
    LocalFree(wide);
  }
  for (std::string &text : Texts)
    Pointers.push_back(text.data());
  Pointers.push_back(nullptr);
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  VirtualTerminal = EnableVirtualTerminal(STD_OUTPUT_HANDLE) &&
                    EnableVirtualTerminal(STD_ERROR_HANDLE);
}

bool LiveLinesPossible() { return VirtualTerminal; }

} // namespace kestrune
