// The focus frame: a control with the keyboard focus gets a 2 px frame in
// the highlight colour, and every control is otherwise drawn exactly as the
// platform's style draws it.
#include "ui/FocusFrameStyle.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

#include <functional>
#include <memory>

namespace kestrune {
namespace {

constexpr int Width = 120;
constexpr int Height = 30;

using Draw = std::function<void(const QStyle &, bool focused, QPainter &)>;

QImage Render(const QStyle &style, bool focused, const Draw &draw) {
  QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  draw(style, focused, painter);
  painter.end();
  return image;
}

template <typename Option> void Prepare(Option &option, QWidget &widget, bool focused) {
  option.initFrom(&widget);
  option.rect = QRect(0, 0, Width, Height);
  option.state |= QStyle::State_Enabled;
  if (focused)
    option.state |= QStyle::State_HasFocus;
  else
    option.state &= ~QStyle::State_HasFocus;
}

// Every pixel of the 2 px band along the edges is the highlight colour.
bool FramedAllRound(const QImage &image, const QColor &colour) {
  for (int x = 0; x < Width; ++x)
    for (int y = 0; y < Height; ++y) {
      const bool band = x < 2 || y < 2 || x >= Width - 2 || y >= Height - 2;
      if (band && image.pixelColor(x, y) != colour)
        return false;
    }
  return true;
}

TEST(FocusFrame, TheFocusedControlIsFramedAndEveryOtherIsDrawnAsThePlatformDrawsIt) {
  QPushButton button("Start All");
  QComboBox combo;
  combo.addItem("/dev/ttyUSB0");
  QLineEdit edit("image.mot");
  const std::vector<std::pair<const char *, Draw>> controls = {
      {"push button",
       [&](const QStyle &style, bool focused, QPainter &painter) {
         QStyleOptionButton option;
         Prepare(option, button, focused);
         option.text = button.text();
         style.drawControl(QStyle::CE_PushButton, &option, &painter, &button);
       }},
      {"drop-down list",
       [&](const QStyle &style, bool focused, QPainter &painter) {
         QStyleOptionComboBox option;
         Prepare(option, combo, focused);
         option.currentText = combo.currentText();
         option.subControls = QStyle::SC_All;
         style.drawComplexControl(QStyle::CC_ComboBox, &option, &painter, &combo);
       }},
      {"text box",
       [&](const QStyle &style, bool focused, QPainter &painter) {
         QStyleOptionFrame option;
         Prepare(option, edit, focused);
         option.lineWidth = 1;
         style.drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, &edit);
       }},
  };
  std::unique_ptr<QStyle> plain(QStyleFactory::create("Fusion"));
  ASSERT_TRUE(plain);
  FocusFrameStyle framed(QStyleFactory::create("Fusion"));
  const QColor highlight = button.palette().color(QPalette::Active, QPalette::Highlight);
  for (const auto &[name, draw] : controls) {
    EXPECT_EQ(Render(framed, false, draw), Render(*plain, false, draw)) << name;
    const QImage focused = Render(framed, true, draw);
    EXPECT_TRUE(FramedAllRound(focused, highlight)) << name;
    EXPECT_FALSE(FramedAllRound(Render(*plain, true, draw), highlight)) << name;
    EXPECT_NE(focused, Render(*plain, true, draw)) << name;
  }
}

TEST(FocusFrame, TheApplicationDrawsWithIt) {
  EXPECT_NE(dynamic_cast<const QProxyStyle *>(QApplication::style()), nullptr);
  EXPECT_NE(dynamic_cast<FocusFrameStyle *>(QApplication::style()), nullptr);
}

} // namespace
} // namespace kestrune
