// A channel's status line: a status bar whose message is elided at the end
// when it is wider than the line, and whose tool tip shows the line's hint
// followed by the whole message and, for an error text, the system's words
// for its code. The message itself (currentMessage) is always the full text.
#pragma once

#include <QStatusBar>

namespace kestrune {

class ElidingStatusBar final : public QStatusBar {
public:
  explicit ElidingStatusBar(QWidget *parent = nullptr);
  // What the tool tip shows for the current message.
  QString ToolTipText() const;

protected:
  bool event(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
};

} // namespace kestrune
