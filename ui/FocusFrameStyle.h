// The platform's own style with one addition: the control that has the
// keyboard focus (buttons, check and radio boxes, drop-down lists, tool
// buttons, text and number boxes) gets a 2 px frame in the highlight colour,
// so that an operator working by keyboard always sees where the next key
// goes. Everything else is drawn by the platform's style unchanged.
#pragma once

#include <QProxyStyle>

namespace kestrune {

class FocusFrameStyle final : public QProxyStyle {
public:
  static constexpr int FrameWidth = 2;

  // Takes ownership of base; null: the application's default style.
  explicit FocusFrameStyle(QStyle *base = nullptr) : QProxyStyle(base) {}

  void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                   const QWidget *widget = nullptr) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                          QPainter *painter, const QWidget *widget = nullptr) const override;
  void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};

} // namespace kestrune
