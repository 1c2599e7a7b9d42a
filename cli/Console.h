// The program's arguments and console as the rest of kestrune-cli expects
// them: arguments in UTF-8, standard output taking UTF-8, and whether the
// live progress lines (which move the cursor with escape sequences) can be
// drawn. On Linux all of this is already so.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The command line in UTF-8. On Windows main's argv is in the ANSI code
// page, which cannot hold every file name: the wide command line is
// converted instead.
class Utf8Arguments {
public:
  Utf8Arguments(int argc, char **argv);
  int Count() const { return int(Pointers.size()) - 1; }
  char **Values() { return Pointers.data(); }

private:
  std::vector<std::string> Texts;
  std::vector<char *> Pointers; // ends with a null pointer, as argv does
};

// How the operator stops every channel, for the usage text.
#ifdef _WIN32
inline constexpr const char *StopRequestsText = "Ctrl+C, Ctrl+Break and closing the console";
#else
inline constexpr const char *StopRequestsText = "SIGINT, SIGTERM and SIGHUP";
#endif

// Sets the console up for UTF-8 output and, where the console has it,
// virtual-terminal processing of escape sequences. Call once, first.
void PrepareConsole();

// Whether both standard output and standard error are a terminal that
// understands the cursor movements of the live lines; otherwise the run is
// shown as plain lines.
bool LiveLinesPossible();

} // namespace kestrune
