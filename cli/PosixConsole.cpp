#include "cli/Console.h"

#include <unistd.h>

namespace kestrune {

Utf8Arguments::Utf8Arguments(int argc, char **argv) {
  for (int i = 0; i < argc; ++i)
    Texts.emplace_back(argv[i]);
  for (std::string &text : Texts)
    Pointers.push_back(text.data());
  Pointers.push_back(nullptr);
}

void PrepareConsole() {}

bool LiveLinesPossible() { return ::isatty(STDERR_FILENO) && ::isatty(STDOUT_FILENO); }

} // namespace kestrune
