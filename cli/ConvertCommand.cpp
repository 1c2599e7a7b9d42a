#include "cli/ConvertCommand.h"

#include "image/ImageState.h"
#include "image/MotLoader.h"

#include <chrono>
#include <thread>
#include <vector>

namespace kestrune {
namespace {

// Prints a status text when it differs from the one printed last, after
// the loader's warnings that have not been printed yet. The loader sets its
// warnings before its final text, so taking the text first and then the
// warnings prints every warning before the final text.
class StatusEcho {
public:
  explicit StatusEcho(std::ostream &out) : Out(out) {}
  void Poll() {
    std::string text = LoadStatusText.Get();
    std::vector<std::string> warnings = LoadWarnings.Get();
    for (; WarningsShown < warnings.size(); ++WarningsShown)
      Out << warnings[WarningsShown] << '\n';
    Show(text);
    Out << std::flush;
  }

private:
  void Show(const std::string &text) {
    if (text.empty() || (Printed && text == Last))
      return;
    Out << text << '\n';
    Last = text;
    Printed = true;
  }

  std::ostream &Out;
  std::string Last;
  bool Printed = false;
  size_t WarningsShown = 0;
};

} // namespace

int RunConvert(const std::string &file, std::ostream &out) {
  StatusEcho echo(out);
  MotFileName.Set(file);
  LoadWarnings.Set({});
  MotLoader loader;
  if (!loader.Start()) {
    echo.Poll();
    return 1;
  }
  while (loader.Running()) {
    echo.Poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loader.Join();
  echo.Poll();
  // As the window does once it has shown the final text.
  LoadStatusText.Set("");
  return static_cast<int>(loader.ExitCode());
}

} // namespace kestrune
