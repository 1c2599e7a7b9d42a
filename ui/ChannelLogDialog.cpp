#include "ui/ChannelLogDialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace kestrune {

ChannelLogDialog::ChannelLogDialog(const std::array<ChannelLog, ChannelCount> &logs,
                                   QWidget *parent)
    : QDialog(parent), Logs(logs) {
  setObjectName("ChannelLogDialog");
  setWindowTitle("Channel log");
  setSizeGripEnabled(true);

  ChannelBox = new QComboBox(this);
  ChannelBox->setObjectName("LogChannelBox");
  for (const ChannelRow &row : ChannelRows)
    ChannelBox->addItem(QString("Channel %1").arg(row.Number));
  SaveButton = new QPushButton("Save...", this);
  SaveButton->setObjectName("SaveLogButton");
  SaveButton->setToolTip("Save this channel's log as a text file");
  auto *top = new QHBoxLayout;
  top->addWidget(ChannelBox);
  top->addStretch(1);
  top->addWidget(SaveButton);

  TextView = new QPlainTextEdit(this);
  TextView->setObjectName("LogTextView");
  TextView->setReadOnly(true);
  TextView->setLineWrapMode(QPlainTextEdit::NoWrap);
  TextView->setMaximumBlockCount(int(ChannelLog::DefaultCapacity));
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setBold(false);
  TextView->setFont(fixed);

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(TextView, 1);
  resize(760, 480);

  RefreshTimer = new QTimer(this);
  RefreshTimer->setInterval(250);
  connect(RefreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
  RefreshTimer->start();
  connect(ChannelBox, &QComboBox::currentIndexChanged, this, [this] {
    TextView->clear();
    Shown = 0;
    Refresh();
  });
  connect(SaveButton, &QPushButton::clicked, this, [this] { AskAndSave(); });
  Refresh();
}

int ChannelLogDialog::Channel() const { return ChannelBox->currentIndex(); }

void ChannelLogDialog::ShowChannel(int channel) {
  if (channel == Channel()) {
    Refresh();
    return;
  }
  ChannelBox->setCurrentIndex(channel);
}

void ChannelLogDialog::Refresh() {
  const ChannelLog &log = Logs[size_t(Channel())];
  if (log.Added() == Shown)
    return;
  std::vector<std::string> lines = log.LinesAfter(Shown);
  Shown = log.Added();
  QScrollBar *scroll = TextView->verticalScrollBar();
  const bool atEnd = scroll->value() == scroll->maximum();
  QString block;
  for (const std::string &line : lines) {
    if (!block.isEmpty())
      block += '\n';
    block += QString::fromStdString(line);
  }
  TextView->appendPlainText(block);
  if (atEnd)
    scroll->setValue(scroll->maximum());
}

QString ChannelLogDialog::SaveTo(const QString &path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return QString("Could not create %1: %2").arg(path, file.errorString());
  for (const std::string &line : Logs[size_t(Channel())].LinesAfter(0)) {
    file.write(line.data(), qint64(line.size()));
    file.write("\n", 1);
  }
  if (!file.commit())
    return QString("Could not write %1: %2").arg(path, file.errorString());
  return {};
}

void ChannelLogDialog::AskAndSave() {
  QString suggested = QString("kestrune-channel%1.log").arg(Channel() + 1);
  QString path = QFileDialog::getSaveFileName(this, "Save channel log", suggested,
                                              "Text files (*.log *.txt)");
  if (path.isEmpty())
    return;
  QString error = SaveTo(path);
  if (!error.isEmpty())
    QMessageBox::warning(this, "Channel log", error);
}

} // namespace kestrune
