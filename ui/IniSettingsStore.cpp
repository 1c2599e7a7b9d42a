#include "ui/IniSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace kestrune {
namespace {

// The desktop's caches of MIME types and handlers are refreshed by their own
// tools where the system has them; a desktop without them reads our files
// directly. Start-up never waits for them.
void RunIfPresent(const QString &tool, const QStringList &arguments) {
  QString path = QStandardPaths::findExecutable(tool);
  if (path.isEmpty())
    return;
  if (!QProcess::startDetached(path, arguments))
    qWarning("Kestrune: could not run %s", qPrintable(tool));
}

} // namespace

IniSettingsStore::IniSettingsStore(XdgDirectories dirs) : Dirs(std::move(dirs)) {}
IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::SettingsFilePath(const XdgDirectories &dirs) {
  return QString::fromStdString(dirs.ConfigHome) + "/Orv/Kestrune.conf";
}

void IniSettingsStore::WriteFileAssociation(const std::string &programPath) {
  XdgAssociationResult result = WriteXdgAssociation(programPath, Dirs);
  if (!result.Written)
    qWarning("Kestrune: .mot association incomplete: %s", result.Error.c_str());
  WriteIcon();
  if (result.MimeChanged) {
    QString data = QString::fromStdString(Dirs.DataHome);
    RunIfPresent("update-mime-database", {data + "/mime"});
    RunIfPresent("update-desktop-database", {data + "/applications"});
  }
}

void IniSettingsStore::WriteIcon() {
  QString target =
      QString::fromStdString(Dirs.DataHome) + "/icons/hicolor/scalable/apps/kestrune.svg";
  QFile source(":/kestrune/icons/kestrune.svg");
  if (!source.open(QIODevice::ReadOnly))
    return;
  QByteArray icon = source.readAll();
  QFile existing(target);
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == icon)
    return;
  existing.close();
  QDir().mkpath(QFileInfo(target).absolutePath());
  QFile out(target);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(icon) != icon.size())
    qWarning("Kestrune: could not write %s: %s", qPrintable(target),
             qPrintable(out.errorString()));
}

bool IniSettingsStore::OpenSettings(SettingsUse) {
  Settings.reset();
  QString path = SettingsFilePath(Dirs);
  if (Dirs.ConfigHome.empty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
    return false;
  auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
  if (settings->status() == QSettings::AccessError || !settings->isWritable())
    return false;
  Settings = std::move(settings);
  return true;
}

bool IniSettingsStore::CloseSettings() {
  if (!Settings)
    return false;
  Settings->sync();
  bool kept = Settings->status() == QSettings::NoError;
  Settings.reset();
  return kept;
}

std::optional<std::string> IniSettingsStore::ReadString(const std::string &name) {
  QString key = QString::fromStdString(name);
  if (!Settings || !Settings->contains(key))
    return std::nullopt;
  QVariant value = Settings->value(key);
  // A list (a hand-edited line with commas) is not a string value.
  if (value.typeId() != QMetaType::QString)
    return std::nullopt;
  return value.toString().toStdString();
}

std::optional<int32_t> IniSettingsStore::ReadInteger(const std::string &name) {
  QString key = QString::fromStdString(name);
  if (!Settings || !Settings->contains(key))
    return std::nullopt;
  bool ok = false;
  int value = Settings->value(key).toInt(&ok);
  if (!ok)
    return std::nullopt;
  return value;
}

bool IniSettingsStore::WriteString(const std::string &name, const std::string &value) {
  if (!Settings)
    return false;
  Settings->setValue(QString::fromStdString(name), QString::fromStdString(value));
  return true;
}

bool IniSettingsStore::WriteInteger(const std::string &name, int32_t value) {
  if (!Settings)
    return false;
  Settings->setValue(QString::fromStdString(name), value);
  return true;
}

} // namespace kestrune
