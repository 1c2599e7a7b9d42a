// What the window keeps between runs: the port lists it fills at start, the
// .mot association, the image file and each channel's port, and a .mot file
// named on the command line.
#include "platform/PortDiscovery.h"
#include "platform/SettingsStore.h"
#include "ui/KestruneUiForm.h"
#include "ui/RunOptionsPanel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

namespace kestrune {

void TKestruneUiForm::FillPortLists() {
  // Every list is probed anew; a port may come or go between probes.
  for (QComboBox *ports : PortCBox) {
    for (const std::string &name : FindCommPorts(HighestPortNumber))
      ports->addItem(QString::fromStdString(name));
    // Nothing is chosen until the settings say which port.
    ports->setCurrentIndex(-1);
  }
}

void TKestruneUiForm::WriteFileAssociation() {
  QString program = Environment.ProgramPath.isEmpty() ? QCoreApplication::applicationFilePath()
                                                      : Environment.ProgramPath;
  Registry->WriteFileAssociation(program.toStdString());
}

int32_t TKestruneUiForm::ReadRegInteger(const std::string &name, int32_t defaultValue) {
  return kestrune::ReadRegInteger(*Registry, name, defaultValue);
}

std::string TKestruneUiForm::ReadRegString(const std::string &name,
                                           const std::string &defaultValue) {
  return kestrune::ReadRegString(*Registry, name, defaultValue);
}

void TKestruneUiForm::LoadSettings() {
  if (!Registry->OpenSettings(SettingsUse::Load)) {
    QMessageBox box(QMessageBox::Warning, "ERROR", "Could not access Registry", QMessageBox::Ok);
    box.exec();
    return;
  }
  FlashFileEdit->setText(QString::fromStdString(ReadRegString(FlashFileValue, "")));
  for (int channel = 0; channel < ChannelCount; ++channel) {
    std::string port = ReadPortSetting(*Registry, PortValueName(ChannelRows[channel].Suffix));
    int index = PortCBox[channel]->findText(QString::fromStdString(port), Qt::MatchExactly);
    // A port that has gone: the list's first entry instead.
    if (index < 0 && PortCBox[channel]->count() > 0)
      index = 0;
    PortCBox[channel]->setCurrentIndex(index);
  }
  LoadCounts();
  RunOptions->Load(*Registry);
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the settings could not be written back");
}

void TKestruneUiForm::TakeCommandLineFile() {
  if (Environment.Arguments.size() < 2)
    return;
  const QString &argument = Environment.Arguments[1];
  QString fileName = QFileInfo(argument).fileName();
  qsizetype dot = fileName.lastIndexOf('.');
  if (dot < 0 || fileName.mid(dot).compare(".mot", Qt::CaseInsensitive) != 0)
    return;
  // Kept as a full path, so that the next start finds it from anywhere.
  FlashFileEdit->setText(QFileInfo(argument).absoluteFilePath());
}

void TKestruneUiForm::SaveSettings() {
  if (!Registry || !Registry->OpenSettings(SettingsUse::Save))
    return;
  Registry->WriteString(FlashFileValue, FlashFileEdit->text().toStdString());
  for (int channel = 0; channel < ChannelCount; ++channel)
    WritePortSetting(*Registry, PortValueName(ChannelRows[channel].Suffix),
                     PortText(channel).toStdString());
  WriteCounts();
  RunOptions->Save(*Registry);
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the settings could not be saved");
}

} // namespace kestrune
