// The window's serial scheme: chosen beside the image and remembered, each
// channel's unit getting its own values into its flash, the station's next
// value and what is left, and a scheme that does not fit refused before the
// port opens.
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/SerialSchemePanel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>

namespace kestrune {
namespace {

using namespace uitest;
using handset::VirtualHandset;

const char *const DownloadDone = "다운로드 완료 !!!!!!!!!!!!!!!!!";
constexpr size_t ImageSize = 3 * 32768 + 100;
constexpr size_t SnAt = 0x1000, MacAt = 0x10004;

const char *const SnAndMac =
    R"({"fields":[{"name":"sn","address":"0x1000","length":10,"encoding":"ascii",
                   "counter":{"start":1000,"last":1009}},
                  {"name":"mac","offset":"0x10004","length":6,"encoding":"be",
                   "mac":{"first":"02:00:00:00:00:ff","last":"02:00:00:00:ff:ff"}}]})";

struct SerialFixture : ::testing::Test {
  TempXdg Xdg;
  std::unique_ptr<VirtualHandset> Handset;
  std::unique_ptr<ScopedEnv> Ports;
  std::unique_ptr<TKestruneUiForm> Form;
  std::vector<uint8_t> Image;

  void Open() {
    Handset = std::make_unique<VirtualHandset>();
    ASSERT_TRUE(Handset->StartOnPty()) << Handset->ErrorText();
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
    for (size_t i = 0; i < ImageSize; ++i)
      Image.push_back(uint8_t(i * 5 + 1));
    QString file = Xdg.Root() + "/image.bin";
    Write(file, std::string(Image.begin(), Image.end()));
    Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
    Form->StartMotLoad(file);
    ASSERT_TRUE(WaitForLoad(*Form));
    ASSERT_EQ(Form->ImageReadyValue(), 1);
    Control<QComboBox>(Form.get(), "PortCBox")
        ->setCurrentText(QString::fromStdString(Handset->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  static void Write(const QString &path, const std::string &text) {
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.data(), qint64(text.size()));
  }
  QString Scheme(const QString &name, const std::string &text) {
    QString path = Xdg.Root() + "/" + name;
    Write(path, text);
    return path;
  }
  SerialSchemePanel *Serials() {
    return Control<SerialSchemePanel>(Form.get(), "SerialSchemePanel");
  }
  bool Start() {
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000);
  }
  std::vector<uint8_t> Expected(const std::string &sn, uint64_t mac) {
    std::vector<uint8_t> expected = Image;
    std::copy(sn.begin(), sn.end(), expected.begin() + SnAt);
    for (size_t i = 0; i < 6; ++i)
      expected[MacAt + i] = uint8_t(mac >> (8 * (5 - i)));
    return expected;
  }
};

TEST_F(SerialFixture, EachUnitGetsItsValuesAndTheStationShowsWhatIsNext) {
  Open();
  const QString scheme = Scheme("scheme.json", SnAndMac);
  ASSERT_TRUE(Serials()->ChooseScheme(scheme));
  auto *unitValues = Control<QLabel>(Form.get(), "SerialLabel");
  auto *station = Control<QLabel>(Form.get(), "SerialStatusLabel");
  for (int unit = 0; unit < 2; ++unit) {
    SCOPED_TRACE(unit);
    ASSERT_TRUE(Start());
    EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
    std::string sn = "000000100" + std::to_string(unit);
    uint64_t mac = 0x0200000000FFull + uint64_t(unit);
    EXPECT_EQ(Handset->ReadFlash(0, ImageSize), Expected(sn, mac));
    EXPECT_FALSE(unitValues->isHidden());
    EXPECT_EQ(unitValues->text().toStdString(),
              "sn " + sn + "  mac 02:00:00:00:0" + (unit == 0 ? "0:ff" : "1:00"));
    EXPECT_FALSE(station->isHidden());
    EXPECT_NE(station->text().toStdString().find("sn: next 000000100" + std::to_string(unit + 1) +
                                                 ", " + std::to_string(9 - unit) + " left"),
              std::string::npos)
        << station->text().toStdString();
  }
  // Remembered like the image path.
  Form->close();
  Form.reset();
  {
    QSettings settings(Xdg.SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(settings.value(SerialSchemeFileValue).toString(), scheme);
  }
  Form = MakeForm([] { return MotLoaderThread(); }, {"kestrune"});
  EXPECT_EQ(Control<QLineEdit>(Form.get(), "SerialSchemeEdit")->text(), scheme);
}

TEST_F(SerialFixture, SchemeThatCannotBeUsedStartsNothing) {
  Open();
  auto *problem = Control<QLabel>(Form.get(), "SerialSchemeProblemLabel");
  auto *edit = Control<QLineEdit>(Form.get(), "SerialSchemeEdit");
  // Not a scheme: refused, the choice stays as it was.
  EXPECT_FALSE(Serials()->ChooseScheme(Scheme("bad.json", R"({"fields":[{"name":"sn"}]})")));
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_FALSE(problem->isHidden());
  EXPECT_EQ(problem->text(), "Serial field sn: give either \"address\" or \"offset\"");
  // A scheme that does not fit this image: the start is refused.
  ASSERT_TRUE(Serials()->ChooseScheme(Scheme("far.json", R"({"fields":[{"name":"sn",
      "address":"0x100000","length":4,"encoding":"ascii","counter":{"start":1,"last":9}}]})")));
  EXPECT_TRUE(problem->isHidden());
  ASSERT_TRUE(Start());
  EXPECT_EQ(StatusText(Form.get(), 0).toStdString(),
            "ERROR Serial field sn at 0x100000 lies outside the image (0x0..0x18064)");
  EXPECT_EQ(Handset->CompletedRuns(), 0);
  // A file edited into something else after it was chosen is read again.
  Scheme("far.json", "not json");
  ASSERT_TRUE(Start());
  EXPECT_NE(StatusText(Form.get(), 0).toStdString().find("is not valid JSON"), std::string::npos)
      << StatusText(Form.get(), 0).toStdString();
  EXPECT_EQ(Handset->CompletedRuns(), 0);
  // None: the image as it is.
  QTest::mouseClick(Control<QToolButton>(Form.get(), "NoSerialSchemeButton"), Qt::LeftButton);
  ASSERT_TRUE(Start());
  EXPECT_EQ(StatusText(Form.get(), 0), DownloadDone);
  EXPECT_EQ(Handset->ReadFlash(0, ImageSize), Image);
  EXPECT_TRUE(Control<QLabel>(Form.get(), "SerialLabel")->isHidden());
}

} // namespace
} // namespace kestrune
