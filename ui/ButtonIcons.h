// Images of the window's buttons: the desktop theme's where it has one, our
// own drawings (a Qt resource) otherwise.
#pragma once

#include <QIcon>

namespace kestrune {

QIcon StartIcon();
QIcon StopIcon();
QIcon StartAllIcon();
QIcon StopAllIcon();
QIcon OpenFileIcon();
QIcon ProgramIcon();

} // namespace kestrune
