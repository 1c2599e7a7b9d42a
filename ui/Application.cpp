#include "ui/Application.h"

#include "ui/ButtonIcons.h"
#include "ui/FocusFrameStyle.h"

#include <QMessageBox>

#include <exception>

// The button images live in this static library's resource.
static void InitIconResource() { Q_INIT_RESOURCE(icons); }

namespace kestrune {

KestruneApplication::KestruneApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool KestruneApplication::notify(QObject *receiver, QEvent *event) {
  // An exception from a handler is shown, and the program goes on.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception &error) {
    ShowException(error.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
  return false;
}

void ChoosePlatform() {
#ifdef _WIN32
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "windows:fontengine=directwrite");
#endif
}

void PrepareApplication(QApplication &application) {
  InitIconResource();
  application.setOrganizationName("Orv");
  application.setApplicationName("Kestrune");
  application.setDesktopFileName("kestrune");
  QGuiApplication::setApplicationDisplayName(ApplicationTitle);
  application.setWindowIcon(ProgramIcon());
  // The platform's look, with a frame that shows where the keyboard focus is.
  application.setStyle(new FocusFrameStyle);
}

void ShowException(const char *message) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle, QString::fromUtf8(message),
                  QMessageBox::Ok);
  box.exec();
}

} // namespace kestrune
