// The application object of the desktop program: its title, its names for
// the desktop, and the display of an exception that reaches the event loop.
#pragma once

#include <QApplication>

namespace kestrune {

constexpr const char *ApplicationTitle = "Kestrune";

class KestruneApplication : public QApplication {
public:
  KestruneApplication(int &argc, char **argv);
  bool notify(QObject *receiver, QEvent *event) override;
};

// Called before the application object. On Windows the window draws its
// text with DirectWrite unless QT_QPA_PLATFORM says otherwise: the GDI
// engine, Qt's default there, leaves the text of line edits undrawn under
// Wine, and DirectWrite is what current Windows programs draw with.
void ChoosePlatform();

// Sets the title, the names and the icon; the tests call it as the program does.
void PrepareApplication(QApplication &application);

// Shows an exception's message in a message box.
void ShowException(const char *message);

} // namespace kestrune
