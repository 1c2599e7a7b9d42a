#include "platform/XdgAssociation.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string HomeBased(const char *variable, const char *below) {
  const char *value = std::getenv(variable);
  if (value != nullptr && value[0] == '/')
    return value;
  const char *home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + below;
}

std::string DesktopEntryText(const std::string &programPath) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Kestrune\n"
         "Comment=Flash firmware into mobile handsets over serial ports\n"
         "Exec=" +
         DesktopExecArgument(programPath) +
         " %f\n"
         "Icon=kestrune\n"
         "Terminal=false\n"
         "Categories=Development;Electronics;\n"
         "MimeType=" +
         MotMimeType + ";\n";
}

std::string MimePackageText() {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                     "  <mime-type type=\"") +
         MotMimeType +
         "\">\n"
         "    <comment>Motorola S-Record Image</comment>\n"
         "    <sub-class-of type=\"text/plain\"/>\n"
         "    <glob pattern=\"*.mot\"/>\n"
         "  </mime-type>\n"
         "</mime-info>\n";
}

bool ReadWholeFile(const fs::path &path, std::string &text) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// Writes beside the target and renames over it, so that a reader never sees
// half a file. Returns the errno of the failure, 0 on success.
int WriteFileReplacing(const fs::path &path, const std::string &text) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec)
    return ec.value();
  fs::path temporary = path;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out)
      return errno != 0 ? errno : EIO;
    out << text;
    out.flush();
    if (!out)
      return errno != 0 ? errno : EIO;
  }
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return ec.value() != 0 ? ec.value() : EIO;
  }
  return 0;
}

void Note(XdgAssociationResult &result, const fs::path &path, int err) {
  if (err == 0)
    return;
  result.Written = false;
  if (!result.Error.empty())
    result.Error += "; ";
  result.Error += "could not write " + path.string() + ": " + std::strerror(err) + " (" +
                  std::to_string(err) + ")";
}

} // namespace

XdgDirectories UserXdgDirectories() {
  return {HomeBased("XDG_DATA_HOME", "/.local/share"), HomeBased("XDG_CONFIG_HOME", "/.config")};
}

std::string DesktopExecArgument(const std::string &path) {
  // Inside the quotes ", `, $ and \ take a backslash; the key's value is then
  // a string whose own backslashes are doubled, and % is doubled for Exec.
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$')
      quoted += "\\\\";
    if (c == '\\')
      quoted += "\\\\\\";
    if (c == '%')
      quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

std::string SetDefaultHandler(const std::string &mimeappsText, const std::string &mimeType,
                              const std::string &desktopId) {
  const std::string section = "[Default Applications]";
  const std::string entry = mimeType + "=" + desktopId;
  std::istringstream in(mimeappsText);
  std::string out;
  std::string line;
  bool inSection = false;
  bool sectionSeen = false;
  bool written = false;
  auto finishSection = [&] {
    if (inSection && !written) {
      out += entry + "\n";
      written = true;
    }
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      finishSection();
      inSection = line == section;
      sectionSeen = sectionSeen || inSection;
    } else if (inSection && line.compare(0, mimeType.size() + 1, mimeType + "=") == 0) {
      if (written)
        continue;
      line = entry;
      written = true;
    }
    out += line + "\n";
  }
  finishSection();
  if (!sectionSeen) {
    if (!out.empty() && out != "\n")
      out += "\n";
    out += section + "\n" + entry + "\n";
  }
  return out;
}

XdgAssociationResult WriteXdgAssociation(const std::string &programPath,
                                         const XdgDirectories &dirs) {
  XdgAssociationResult result;
  result.Written = true;
  if (dirs.DataHome.empty() || dirs.ConfigHome.empty()) {
    result.Written = false;
    result.Error = "no home directory";
    return result;
  }
  fs::path entry = fs::path(dirs.DataHome) / "applications" / DesktopEntryName;
  Note(result, entry, WriteFileReplacing(entry, DesktopEntryText(programPath)));

  fs::path package = fs::path(dirs.DataHome) / "mime" / "packages" / "kestrune-mot.xml";
  std::string current;
  std::error_code ec;
  result.MimeChanged = !ReadWholeFile(package, current) || current != MimePackageText() ||
                       !fs::exists(fs::path(dirs.DataHome) / "mime" / "mime.cache", ec);
  Note(result, package, WriteFileReplacing(package, MimePackageText()));

  fs::path mimeapps = fs::path(dirs.ConfigHome) / "mimeapps.list";
  std::string list;
  ReadWholeFile(mimeapps, list);
  std::string updated = SetDefaultHandler(list, MotMimeType, DesktopEntryName);
  if (updated != list)
    Note(result, mimeapps, WriteFileReplacing(mimeapps, updated));
  return result;
}

} // namespace kestrune
