// The window's view of the channel logs: one channel at a time, its lines
// with their times, new lines added as they come (a 250 ms poll, so a busy
// channel never floods the view), and a button that saves the channel's
// kept lines to a UTF-8 text file.
#pragma once

#include "engine/ChannelRow.h"
#include "ui/ChannelLog.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kestrune {

class ChannelLogDialog final : public QDialog {
public:
  ChannelLogDialog(const std::array<ChannelLog, ChannelCount> &logs, QWidget *parent);

  void ShowChannel(int channel);
  int Channel() const;
  // Writes the channel's kept lines; an empty text when it worked, else
  // what went wrong.
  QString SaveTo(const QString &path) const;
  // Adds the lines that came since the last look.
  void Refresh();

private:
  void AskAndSave();

  const std::array<ChannelLog, ChannelCount> &Logs;
  QComboBox *ChannelBox = nullptr;
  QPlainTextEdit *TextView = nullptr;
  QPushButton *SaveButton = nullptr;
  QTimer *RefreshTimer = nullptr;
  uint64_t Shown = 0; // lines of the current channel already in the view
};

} // namespace kestrune
