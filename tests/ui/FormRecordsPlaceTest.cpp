// Where the window's records go can change without a restart: the next
// Start while no channel runs moves the records and the serial values'
// ledger to the new place, a change while a channel runs is refused, and
// closing with records the line's server has not taken says how many and
// does not wait for a server that never answers.
#include "engine/CommsThread.h"
#include "handset/VirtualHandset.h"
#include "image/MotLoaderThread.h"
#include "records/SqliteStore.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/IniSettingsStore.h"
#include "ui/RecordsDialog.h"
#include "ui/SerialSchemePanel.h"
#include "ui/WindowRecords.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kestrune {
namespace {

using namespace std::chrono;
using namespace uitest;
using handset::HandsetOptions;
using handset::VirtualHandset;

const char *const SnScheme =
    R"({"fields":[{"name":"sn","address":"0x1000","length":10,"encoding":"ascii",
                   "counter":{"start":1000,"last":1999}}]})";

std::vector<records::Record> RecordsIn(const std::string &path) {
  std::string why;
  auto store = records::SqliteStore::Open(path, why);
  EXPECT_TRUE(store) << why;
  std::vector<records::Record> list;
  if (store)
    EXPECT_TRUE(store->List({}, list, why)) << why;
  return list;
}

std::string SnOf(const records::Record &record) {
  for (const auto &[field, value] : record.Serials) {
    if (field == "sn")
      return value;
  }
  return {};
}

// A server on the loopback that takes the connection and never says a word.
struct SilentServer {
  int Socket = -1;
  int Port = 0;
  SilentServer() {
    Socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (Socket < 0 || ::bind(Socket, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(Socket, 16) != 0 ||
        ::getsockname(Socket, reinterpret_cast<sockaddr *>(&address), &size) != 0)
      return;
    Port = ntohs(address.sin_port);
  }
  ~SilentServer() {
    if (Socket >= 0)
      ::close(Socket);
  }
};

struct RecordsPlaceFixture : ::testing::Test {
  TempXdg Xdg;
  std::unique_ptr<VirtualHandset> Handset;
  std::unique_ptr<ScopedEnv> Ports;
  std::unique_ptr<TKestruneUiForm> Form;
  std::vector<QString> Told;

  std::string DefaultPath() const {
    return (Xdg.DataHome() + "/Orv/Kestrune/records.sqlite").toStdString();
  }
  void SetRecordsSetting(const std::string &place) {
    IniSettingsStore settings{UserXdgDirectories()};
    ASSERT_TRUE(settings.OpenSettings(SettingsUse::Save));
    settings.WriteString(RecordsValue, place);
    ASSERT_TRUE(settings.CloseSettings());
  }
  std::string RecordsSetting() {
    IniSettingsStore settings{UserXdgDirectories()};
    EXPECT_TRUE(settings.OpenSettings(SettingsUse::Load));
    std::string value = settings.ReadString(RecordsValue).value_or("");
    settings.CloseSettings();
    return value;
  }
  void Open(HandsetOptions options = {}) {
    Handset = std::make_unique<VirtualHandset>(options);
    ASSERT_TRUE(Handset->StartOnPty()) << Handset->ErrorText();
    Ports = std::make_unique<ScopedEnv>("KESTRUNE_PORTS", Handset->DevicePath());
    QString file = Xdg.Root() + "/image.bin";
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(40000, '\x5a'));
    out.close();
    FormEnvironment environment;
    environment.AskToClose = [](const QString &) { return true; };
    environment.TellAtClose = [this](const QString &text) { Told.push_back(text); };
    environment.Arguments = {"kestrune"};
    environment.ProgramPath = "/opt/kestrune/bin/kestrune";
    environment.LoaderRoutine = [] { return MotLoaderThread(); };
    Form = std::make_unique<TKestruneUiForm>(std::move(environment));
    Form->StartMotLoad(file);
    ASSERT_TRUE(WaitForLoad(*Form));
    Control<QComboBox>(Form.get(), "PortCBox")
        ->setCurrentText(QString::fromStdString(Handset->DevicePath()));
  }
  void TearDown() override {
    Form.reset();
    EXPECT_EQ(TCommsThread::LiveWorkers(), 0);
  }
  void StartAndWait() {
    QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 30000));
  }
  // Opens the records dialog as the operator does, types place into its
  // "Server or file" box and presses Save; returns the note the dialog
  // shows then, or "saved" when it closed.
  QString SaveInDialog(const QString &place) {
    QString seen = "not shown";
    QTimer::singleShot(0, [&] {
      auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
      if (dialog == nullptr || dialog->objectName() != "RecordsDialog")
        return;
      Control<QLineEdit>(dialog, "RecordsPlaceEdit")->setText(place);
      dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
      auto *note = Control<QLabel>(dialog, "RecordsPlaceNote");
      seen = dialog->isVisible() ? (note->isHidden() ? QString() : note->text()) : "saved";
      if (dialog->isVisible())
        dialog->reject();
    });
    Control<QAction>(Form.get(), "RecordsAction")->trigger();
    return seen;
  }
};

TEST_F(RecordsPlaceFixture, ANewPlaceTakesTheNextRunsRecordAndItsSerialValue) {
  Open();
  const QString scheme = Xdg.Root() + "/sn.json";
  QFile out(scheme);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(SnScheme);
  out.close();
  ASSERT_TRUE(Control<SerialSchemePanel>(Form.get(), "SerialSchemePanel")->ChooseScheme(scheme));
  StartAndWait();

  const std::string other = (Xdg.Root() + "/other.sqlite").toStdString();
  ASSERT_EQ(SaveInDialog(QString::fromStdString(other)), "saved");
  EXPECT_EQ(RecordsSetting(), other);
  StartAndWait();
  StartAndWait();
  Form->close();

  // The first unit stays where it was written, the next two are in the new
  // place, and the new place's ledger gave their values: a ledger of its
  // own, beginning at the counter's start.
  const std::vector<records::Record> before = RecordsIn(DefaultPath());
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(SnOf(before[0]), "0000001000");
  std::vector<records::Record> after = RecordsIn(other);
  ASSERT_EQ(after.size(), 2u);
  std::vector<std::string> values{SnOf(after[0]), SnOf(after[1])};
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::string>{"0000001000", "0000001001"}));
  for (const records::Record &record : after)
    EXPECT_EQ(record.Outcome, "passed");
}

TEST_F(RecordsPlaceFixture, AChangeWhileAChannelRunsIsRefusedAndTheRunKeepsItsPlace) {
  HandsetOptions late;
  late.PowerOnDelayMs = 60000; // the channel keeps calling the boot ROM
  Open(late);
  QTest::mouseClick(Control<QPushButton>(Form.get(), "StartButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form->AllChannelsIdle(); }, 5000));

  const std::string other = (Xdg.Root() + "/other.sqlite").toStdString();
  EXPECT_EQ(SaveInDialog(QString::fromStdString(other)), PlaceChangeWhileRunningText);
  EXPECT_EQ(RecordsSetting(), "");

  QTest::mouseClick(Control<QPushButton>(Form.get(), "StopButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->AllChannelsIdle(); }, 10000));
  // Once no channel runs the change is taken.
  EXPECT_EQ(SaveInDialog(QString::fromStdString(other)), "saved");
  EXPECT_EQ(RecordsSetting(), other);
  Form->close();
  // The stopped run was recorded where records went while it ran.
  const std::vector<records::Record> kept = RecordsIn(DefaultPath());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Outcome, "stopped");
}

TEST_F(RecordsPlaceFixture, ClosingCutsTheWaitOnASilentServerAndSaysWhatStaysUnsent) {
  SilentServer server;
  ASSERT_GT(server.Port, 0);
  SetRecordsSetting("postgresql://kestrune@127.0.0.1:" + std::to_string(server.Port) + "/line");
  Open();
  StartAndWait();
  StartAndWait();
  const auto asked = steady_clock::now();
  Form->close();
  const auto took = steady_clock::now() - asked;
  EXPECT_LT(took, seconds(3)) << duration_cast<milliseconds>(took).count() << " ms";
  ASSERT_EQ(Told.size(), 1u);
  EXPECT_TRUE(Told[0].contains(
      QString::fromStdString("2 records not sent to the server yet; they are kept in " +
                             DefaultPath() + " and sent at the next start")))
      << Told[0].toStdString();
  std::string why;
  auto store = records::SqliteStore::Open(DefaultPath(), why);
  ASSERT_TRUE(store) << why;
  uint64_t unsent = 0;
  ASSERT_TRUE(store->CountPending(unsent, why)) << why;
  EXPECT_EQ(unsent, 2u);
}

} // namespace
} // namespace kestrune
