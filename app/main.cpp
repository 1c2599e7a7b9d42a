// The desktop program: the application object, the one main window and the
// event loop. An exception that escapes is shown in a message box.
#include "image/MotLoaderThread.h"
#include "ui/Application.h"
#include "ui/KestruneUiForm.h"
#include "ui/SignalCloser.h"

#include <exception>

int main(int argc, char **argv) {
  kestrune::ChoosePlatform();
  kestrune::KestruneApplication application(argc, argv);
  try {
    kestrune::PrepareApplication(application);
    kestrune::FormEnvironment environment;
    environment.Arguments = application.arguments();
    environment.ProgramPath = application.applicationFilePath();
    environment.LoaderRoutine = [] { return kestrune::MotLoaderThread(); };
    kestrune::TKestruneUiForm KestruneUiForm(std::move(environment));
    kestrune::SignalCloser closer(&KestruneUiForm);
    KestruneUiForm.show();
    application.exec();
  } catch (const std::exception &error) {
    kestrune::ShowException(error.what());
  } catch (...) {
    kestrune::ShowException("Unknown exception");
  }
  return 0;
}
