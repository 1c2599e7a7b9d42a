#include "ui/ElidingStatusBar.h"

#include "platform/ErrorMeaning.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>

namespace kestrune {

ElidingStatusBar::ElidingStatusBar(QWidget *parent) : QStatusBar(parent) {}

bool ElidingStatusBar::event(QEvent *event) {
  if (event->type() != QEvent::ToolTip || currentMessage().isEmpty())
    return QStatusBar::event(event);
  auto *help = static_cast<QHelpEvent *>(event);
  QToolTip::showText(help->globalPos(), ToolTipText(), this);
  return true;
}

QString ElidingStatusBar::ToolTipText() const {
  const QString message = currentMessage();
  QString tip = toolTip().isEmpty() ? message : toolTip() + "\n" + message;
  const std::string meaning = StatusTextMeaning(message.toStdString());
  if (!meaning.empty())
    tip += "\n" + QString::fromStdString(meaning);
  return tip;
}

void ElidingStatusBar::paintEvent(QPaintEvent *event) {
  const QString message = currentMessage();
  if (message.isEmpty()) {
    QStatusBar::paintEvent(event);
    return;
  }
  // The same place and pen as the plain status bar's message.
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &painter, this);
  const QRect area = rect().adjusted(6, 0, -6, 0);
  painter.setPen(palette().windowText().color());
  const QString shown = fontMetrics().elidedText(message, Qt::ElideRight, area.width());
  painter.drawText(area, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

} // namespace kestrune
