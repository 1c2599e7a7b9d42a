#include "ui/FocusFrameStyle.h"

#include <QPainter>
#include <QStyleOption>

namespace kestrune {
namespace {

bool HasFocus(const QStyleOption *option) {
  return option != nullptr && (option->state & QStyle::State_HasFocus) &&
         (option->state & QStyle::State_Enabled);
}

// Inside the control's rectangle, so that no neighbour paints over it.
void DrawFocusFrame(const QStyleOption *option, QPainter *painter) {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(Qt::NoPen);
  painter->setBrush(option->palette.color(QPalette::Active, QPalette::Highlight));
  const QRect r = option->rect;
  const int w = FocusFrameStyle::FrameWidth;
  painter->drawRect(QRect(r.left(), r.top(), r.width(), w));
  painter->drawRect(QRect(r.left(), r.bottom() - w + 1, r.width(), w));
  painter->drawRect(QRect(r.left(), r.top() + w, w, r.height() - 2 * w));
  painter->drawRect(QRect(r.right() - w + 1, r.top() + w, w, r.height() - 2 * w));
  painter->restore();
}

} // namespace

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption *option,
                                  QPainter *painter, const QWidget *widget) const {
  QProxyStyle::drawControl(element, option, painter, widget);
  const bool framed =
      element == CE_PushButton || element == CE_CheckBox || element == CE_RadioButton;
  if (framed && HasFocus(option))
    DrawFocusFrame(option, painter);
}

void FocusFrameStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                         QPainter *painter, const QWidget *widget) const {
  QProxyStyle::drawComplexControl(control, option, painter, widget);
  const bool framed = control == CC_ComboBox || control == CC_ToolButton || control == CC_SpinBox;
  if (framed && HasFocus(option))
    DrawFocusFrame(option, painter);
}

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                    QPainter *painter, const QWidget *widget) const {
  QProxyStyle::drawPrimitive(element, option, painter, widget);
  if (element == PE_PanelLineEdit && HasFocus(option))
    DrawFocusFrame(option, painter);
}

} // namespace kestrune
