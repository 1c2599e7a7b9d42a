#include "ui/ButtonIcons.h"

namespace kestrune {
namespace {

QIcon ThemeOr(const char *themeName, const char *ownFile) {
  return QIcon::fromTheme(themeName, QIcon(QString(":/kestrune/icons/") + ownFile));
}

} // namespace

QIcon StartIcon() { return ThemeOr("media-playback-start", "start.svg"); }
QIcon StopIcon() { return ThemeOr("media-playback-stop", "stop.svg"); }
QIcon StartAllIcon() { return ThemeOr("media-seek-forward", "start-all.svg"); }
QIcon StopAllIcon() { return ThemeOr("process-stop", "stop-all.svg"); }
QIcon OpenFileIcon() { return ThemeOr("document-open", "open.svg"); }
QIcon ProgramIcon() { return QIcon(":/kestrune/icons/kestrune.svg"); }

} // namespace kestrune
