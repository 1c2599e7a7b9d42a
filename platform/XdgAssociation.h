// The .mot association on Linux desktops: a desktop entry for the program,
// a shared-mime-info type for *.mot ("Motorola S-Record Image") and the
// entry as that type's default handler, all in the user's XDG directories.
#pragma once

#include <string>

namespace kestrune {

constexpr const char *MotMimeType = "text/x-motorola-srecord";
constexpr const char *DesktopEntryName = "kestrune.desktop";

struct XdgDirectories {
  std::string DataHome;   // $XDG_DATA_HOME, else ~/.local/share
  std::string ConfigHome; // $XDG_CONFIG_HOME, else ~/.config
};
XdgDirectories UserXdgDirectories();

struct XdgAssociationResult {
  bool Written = false;     // every file was written
  bool MimeChanged = false; // the MIME package is new or changed: its database needs an update
  std::string Error;        // what could not be written, with the platform's code
};

// Writes
//   DataHome/applications/kestrune.desktop
//   DataHome/mime/packages/kestrune-mot.xml
//   ConfigHome/mimeapps.list (our type's default handler; other lines kept)
XdgAssociationResult WriteXdgAssociation(const std::string &programPath,
                                         const XdgDirectories &dirs);

// The program path as one quoted argument of a desktop entry's Exec key.
std::string DesktopExecArgument(const std::string &path);
// mimeapps.list text with mimeType's default handler set to desktopId.
std::string SetDefaultHandler(const std::string &mimeappsText, const std::string &mimeType,
                              const std::string &desktopId);

} // namespace kestrune
