#include "cli/ConvertCommand.h"

#include "image/ImageState.h"
#include "image/MotLoader.h"

#include <chrono>
#include <thread>

namespace kestrune {
namespace {

// Prints a status text when it differs from the one printed last.
class StatusEcho {
public:
  explicit StatusEcho(std::ostream &out) : Out(out) {}
  void Show(const std::string &text) {
    if (text.empty() || (Printed && text == Last))
      return;
    Out << text << '\n' << std::flush;
    Last = text;
    Printed = true;
  }

private:
  std::ostream &Out;
  std::string Last;
  bool Printed = false;
};

} // namespace

int RunConvert(const std::string &file, std::ostream &out) {
  StatusEcho echo(out);
  MotFileName.Set(file);
  MotLoader loader;
  if (!loader.Start()) {
    echo.Show(LoadStatusText.Get());
    return 1;
  }
  while (loader.Running()) {
    echo.Show(LoadStatusText.Get());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loader.Join();
  echo.Show(LoadStatusText.Get());
  // As the window does once it has shown the final text.
  LoadStatusText.Set("");
  return static_cast<int>(loader.ExitCode());
}

} // namespace kestrune
