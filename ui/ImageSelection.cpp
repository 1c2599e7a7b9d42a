// Choosing the image file and preparing it: the file dialog, the loading
// thread and the 10 ms poll that follows it.
#include "image/ImageState.h"
#include "ui/KestruneUiForm.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace kestrune {

QStringList QtNameFilters(const QString &filter) {
  // "description|pattern|description|pattern": the descriptions already name
  // their pattern, and Qt matches patterns without regard to letter case.
  QStringList parts = filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString pattern = parts[i + 1];
    if (description.endsWith("(" + pattern + ")", Qt::CaseInsensitive))
      filters << description;
    else
      filters << description + " (" + pattern + ")";
  }
  return filters;
}

void TKestruneUiForm::ActivateFlashFileDialog() {
  // One load at a time: a second would rewrite the image under the first.
  if (State != Lifecycle::Open || MotThread.Running())
    return;
  // Made at first use: a file dialog costs start-up time and a thread.
  if (OpenDialog == nullptr) {
    OpenDialog = new QFileDialog(this);
    OpenDialog->setObjectName("OpenDialog");
  }
  OpenDialog->setFileMode(QFileDialog::ExistingFile); // path and file must exist
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setSizeGripEnabled(true);
  OpenDialog->setWindowTitle(FlashFileDialogTitle);
  OpenDialog->selectFile(FlashFileEdit->text());
  // The operator's last filter choice stays; the first entry on first use.
  QString previousFilter = OpenDialog->selectedNameFilter();
  OpenDialog->setNameFilters(QtNameFilters(FlashFileFilter));
  if (OpenDialog->nameFilters().contains(previousFilter))
    OpenDialog->selectNameFilter(previousFilter);
  if (OpenDialog->exec() != QDialog::Accepted)
    return;
  QStringList chosen = OpenDialog->selectedFiles();
  if (chosen.isEmpty() || State != Lifecycle::Open)
    return;
  FlashFileEdit->setText(chosen.front());
  StartMotLoad(chosen.front());
}

void TKestruneUiForm::StartMotLoad(const QString &fileName) {
  if (MotThread.Running())
    return;
  MotFileName.Set(fileName.toStdString());
  if (!Environment.LoaderRoutine || !MotThread.Start(Environment.LoaderRoutine)) {
    SetStatus(0, LoaderThreadErrorText);
    return;
  }
  for (QPushButton *start : StartButton)
    start->setEnabled(false);
  FlashFileButton->setEnabled(false);
  SetStatus(0, CheckingMotText);
  CommTimer->setInterval(10);
  CommTimer->start();
}

void TKestruneUiForm::TimerExpire() {
  CommTimer->stop();
  int exitCode = int(MotThread.ExitCode());
  QString text = QString::fromStdString(LoadStatusText.Get());
  if (exitCode == int(MotLoader::StillActive)) {
    SetStatus(0, text);
    SetStatus(1, text);
    CommTimer->start();
  } else {
    ImageReady = exitCode == 0 ? 1 : 0;
    Image = exitCode == 0 ? LoadedImageReady.Get() : nullptr;
    FlashFileButton->setEnabled(true);
    for (int channel = 0; channel < ChannelCount; ++channel)
      SetStatus(channel, text);
    LoadStatusText.Set(std::string());
    for (int channel = 0; channel < ChannelCount; ++channel)
      ParameterChange(channel);
    // Starts that waited for the reload of a changed file go ahead with
    // the new image; after a failed load they stay idle with its text.
    std::vector<int> waiting = std::move(StartsAfterLoad);
    StartsAfterLoad.clear();
    if (ImageReady == 1 && State == Lifecycle::Open) {
      for (int channel : waiting)
        if (CommsThread[channel] == nullptr)
          StartChannel(channel);
    }
    QuitQuietLoopWhenDone();
  }
  QGuiApplication::setApplicationDisplayName(LoadingApplicationTitle);
}

} // namespace kestrune
