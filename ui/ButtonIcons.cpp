#include "ui/ButtonIcons.h"

#include <QImageReader>

namespace kestrune {
namespace {

// The drawing itself where Qt can read SVG; otherwise (the Windows build,
// whose Qt has no SVG reader) the same drawing as pictures of 16 and 32
// pixels, made from it (ui/icons/png).
QIcon OwnIcon(const char *name) {
  const QString icons = ":/kestrune/icons/";
  if (QImageReader::supportedImageFormats().contains("svg"))
    return QIcon(icons + name + ".svg");
  QIcon icon;
  for (const char *size : {"16", "32"})
    icon.addFile(icons + "png/" + name + "-" + size + ".png");
  return icon;
}

QIcon ThemeOr(const char *themeName, const char *ownName) {
  return QIcon::fromTheme(themeName, OwnIcon(ownName));
}

} // namespace

QIcon StartIcon() { return ThemeOr("media-playback-start", "start"); }
QIcon StopIcon() { return ThemeOr("media-playback-stop", "stop"); }
QIcon StartAllIcon() { return ThemeOr("media-seek-forward", "start-all"); }
QIcon StopAllIcon() { return ThemeOr("process-stop", "stop-all"); }
QIcon OpenFileIcon() { return ThemeOr("document-open", "open"); }
QIcon ProgramIcon() { return OwnIcon("kestrune"); }

} // namespace kestrune
