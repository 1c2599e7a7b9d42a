// What the window keeps between runs: the port lists it fills at start, the
// .mot association, the image file and each channel's port, and a .mot file
// named on the command line. A saved port that is not present stays chosen,
// marked missing, and is saved again as it was.
#include "platform/SettingsStore.h"
#include "ui/JobModePanel.h"
#include "ui/KestruneUiForm.h"
#include "ui/PortLists.h"
#include "ui/RunOptionsPanel.h"
#include "ui/SerialSchemePanel.h"
#include "ui/WindowRecords.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

namespace kestrune {

void TKestruneUiForm::FillPortLists() {
  // Nothing is chosen until the settings say which port.
  PresentPorts = Scanner.Scan();
  for (QComboBox *ports : PortCBox)
    ShowPorts(ports, PresentPorts, {});
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
    const std::string name = PortValueName(ChannelRows[channel].Suffix);
    bool saved = Registry->StoresPortNumbers() ? Registry->ReadInteger(name).has_value()
                                               : Registry->ReadString(name).has_value();
    std::string port = ReadPortSetting(*Registry, name);
    // Nothing saved yet: the default port where present, else the first.
    ShowPorts(PortCBox[channel], PresentPorts,
              saved ? QString::fromStdString(port) : FirstRunPort(PresentPorts, port));
    Panel[channel]->SetPortText(PortText(channel).toStdString());
  }
  LoadCounts();
  LoadRepeatSetting();
  RunOptions->Load(*Registry);
  Serials->SetLedgerPlace(Registry->ReadString(RecordsValue).value_or(""),
                          Registry->ReadString(StationValue).value_or(""));
  Serials->Load(*Registry);
  JobMode->Load(*Registry);
  JobMode->SetRecordsPlace(Registry->ReadString(RecordsValue).value_or(""),
                           Registry->ReadString(StationValue).value_or(""));
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
  WriteRepeatSetting();
  RunOptions->Save(*Registry);
  Serials->Save(*Registry);
  JobMode->Save(*Registry);
  if (!Registry->CloseSettings())
    qWarning("Kestrune: the settings could not be saved");
}

} // namespace kestrune
