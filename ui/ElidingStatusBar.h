// A channel's status line: a status bar whose message is elided at the end
// when it is wider than the line, and whose tool tip shows the line's hint
// followed by the whole message. The message itself (currentMessage) is
// always the full text.
#pragma once

#include <QStatusBar>

namespace kestrune {

class ElidingStatusBar final : public QStatusBar {
public:
  explicit ElidingStatusBar(QWidget *parent = nullptr);

protected:
  bool event(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
};

} // namespace kestrune
