// The window's shape and its font check: it can be resized and scrolls
// what does not fit while the panels keep their places; the Korean texts
// are checked against the installed fonts, and a missing font is said once.
#include "ui/ElidingStatusBar.h"
#include "ui/FontCheck.h"
#include "tests/ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace kestrune {
namespace {

using namespace uitest;

std::unique_ptr<TKestruneUiForm> FormWithFonts(std::function<bool()> fontsAvailable) {
  FormEnvironment environment;
  environment.Arguments = {"kestrune"};
  environment.ProgramPath = "/opt/kestrune/bin/kestrune";
  environment.LoaderRoutine = ImmediateLoader(0, "");
  environment.KoreanFontsAvailable = std::move(fontsAvailable);
  return std::make_unique<TKestruneUiForm>(std::move(environment));
}

struct FormViewTest : ::testing::Test {
  TempXdg Xdg;
};

TEST_F(FormViewTest, AMissingKoreanFontIsSaidOnce) {
  auto form = FormWithFonts([] { return false; });
  auto *warning = Control<QLabel>(form.get(), "FontWarningLabel");
  EXPECT_TRUE(warning->isVisibleTo(form.get()));
  EXPECT_EQ(warning->text(), MissingKoreanFontText);
  EXPECT_EQ(form->findChildren<QLabel *>("FontWarningLabel").size(), 1);

  auto present = FormWithFonts([] { return true; });
  EXPECT_FALSE(Control<QLabel>(present.get(), "FontWarningLabel")->isVisibleTo(present.get()));
}

TEST_F(FormViewTest, TheFontCheckFindsWhatNoFontCanDraw) {
  // The bootstrap installs a Korean font; with it every Korean text draws.
  EXPECT_EQ(UndrawableCharacters(KoreanStatusTexts(), QFont()), QString());
  // A noncharacter is in no font; spaces never count, each miss once.
  QString odd = QString("a ") + QChar(0xFFFF) + QChar(0xFFFF);
  EXPECT_EQ(UndrawableCharacters({odd}, QFont()), QString(QChar(0xFFFF)));
  // A window on this machine finds its fonts.
  auto form = FormWithFonts({});
  EXPECT_FALSE(Control<QLabel>(form.get(), "FontWarningLabel")->isVisibleTo(form.get()));
}

TEST_F(FormViewTest, TheWindowResizesAndScrollsWhileThePanelsKeepTheirPlaces) {
  auto form = FormWithFonts([] { return true; });
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  // Channels 1 to 3 in the left column, 4 to 8 below each other on the right.
  auto panel = [&](int number) {
    QWidget *p = Control<QWidget>(form.get(), QString("ChannelPanel%1").arg(number));
    return p->mapTo(form.get(), QPoint(0, 0));
  };
  for (int number = 2; number <= 3; ++number) {
    EXPECT_EQ(panel(number).x(), panel(1).x());
    EXPECT_GT(panel(number).y(), panel(number - 1).y());
  }
  for (int number = 5; number <= 8; ++number) {
    EXPECT_EQ(panel(number).x(), panel(4).x());
    EXPECT_GT(panel(number).y(), panel(number - 1).y());
  }
  EXPECT_GT(panel(4).x(), panel(1).x());

  // Smaller than the panels need: the rest is reached by scrolling.
  auto *scroll = Control<QScrollArea>(form.get(), "WindowScrollArea");
  form->resize(480, 360);
  QTest::qWait(50);
  EXPECT_EQ(form->size(), QSize(480, 360));
  EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
  EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
  // Larger: the status lines grow with it.
  QStatusBar *status = Control<QStatusBar>(form.get(), "StatusBar4");
  int narrow = status->width();
  form->resize(form->sizeHint().width() + 400, 900);
  QTest::qWait(50);
  EXPECT_GT(status->width(), narrow);
}

TEST_F(FormViewTest, TheStatusLineKeepsItsWholeTextWhateverItShows) {
  auto form = FormWithFonts([] { return true; });
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QStatusBar *status = Control<QStatusBar>(form.get(), "StatusBar");
  ASSERT_NE(dynamic_cast<ElidingStatusBar *>(status), nullptr);
  const QString longText = "Completed MOT conversion, Start 0x000000, End 0x00FFFFFF, and a good "
                           "deal more text than any status line has room for (1200)";
  int width = form->width();
  status->showMessage(longText);
  QTest::qWait(20);
  EXPECT_EQ(status->currentMessage(), longText);
  EXPECT_EQ(form->width(), width); // the window does not grow for a long text
  EXPECT_EQ(status->toolTip(), "Status Line");
  // Hovering shows the hint and the whole text.
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), status->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(status, &hover);
  EXPECT_EQ(QToolTip::text(), "Status Line\n" + longText);
  QToolTip::hideText();
}

TEST_F(FormViewTest, EndOfRunTextsDoNotWidenThePanels) {
  auto form = FormWithFonts([] { return true; });
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  auto *scroll = Control<QScrollArea>(form.get(), "WindowScrollArea");
  const QSize before = scroll->widget()->sizeHint();
  form->resize(before);
  QTest::qWait(50);
  ASSERT_FALSE(scroll->horizontalScrollBar()->isVisible());
  for (int channel = 0; channel < ChannelCount; ++channel) {
    Control<QStatusBar>(form.get(), ChannelControlName(channel, "StatusBar"))
        ->showMessage("ERROR FLASH programming error (C:1, S:0x00A00080) and a long tail of text");
    Control<QLabel>(form.get(), ChannelControlName(channel, "CountLabel"))
        ->setText("12345 passed · 12345 failed · 100.0%");
    Control<QLabel>(form.get(), ChannelControlName(channel, "OutcomeLabel"))->setText("STOPPED");
    Control<QProgressBar>(form.get(), ChannelControlName(channel, "RunProgressBar"))
        ->setFormat("programming  52%  128 KiB of 256 KiB  24.8 KiB/s  0:07  left 0:05");
  }
  Control<QLabel>(form.get(), "StationCountLabel")
      ->setText("Station: 123456 passed · 123456 failed · 100.0%");
  QTest::qWait(50);
  EXPECT_EQ(scroll->widget()->sizeHint().width(), before.width());
  EXPECT_LE(scroll->widget()->minimumSizeHint().width(), before.width());
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
}

} // namespace
} // namespace kestrune
