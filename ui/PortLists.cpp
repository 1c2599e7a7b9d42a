#include "ui/PortLists.h"

#include <QApplication>
#include <QComboBox>
#include <QSignalBlocker>
#include <QStyle>

namespace kestrune {
namespace {

constexpr int MissingRole = Qt::UserRole + 1;
constexpr const char *ListToolTip = "Select COMM Port";

struct Item {
  QString Text;
  QString Name;
  QString Tip;
  bool Missing = false;
};

std::vector<Item> ItemsFor(const std::vector<PortEntry> &present, const QString &keep, int &chosen) {
  std::vector<Item> items;
  chosen = -1;
  for (const PortEntry &entry : present) {
    if (chosen < 0 && entry.Answers(keep.toStdString()))
      chosen = int(items.size());
    QString tip = QString::fromStdString(entry.Device);
    if (!entry.ByPath.empty())
      tip += "\nUSB slot: " + QString::fromStdString(entry.ByPath);
    if (!entry.ById.empty())
      tip += "\nAdapter: " + QString::fromStdString(entry.ById);
    items.push_back({QString::fromStdString(entry.Label()), QString::fromStdString(entry.Name),
                     tip, false});
  }
  if (chosen < 0 && !keep.isEmpty()) {
    chosen = int(items.size());
    items.push_back({keep + MissingPortSuffix, keep, keep + "\n" + MissingPortToolTip, true});
  }
  return items;
}

bool Shows(const QComboBox *ports, const std::vector<Item> &items) {
  if (ports->count() != int(items.size()))
    return false;
  for (int i = 0; i < ports->count(); ++i) {
    const Item &item = items[size_t(i)];
    if (ports->itemText(i) != item.Text || ports->itemData(i).toString() != item.Name ||
        ports->itemData(i, MissingRole).toBool() != item.Missing)
      return false;
  }
  return true;
}

} // namespace

void ShowChoiceToolTip(QComboBox *ports) {
  ports->setToolTip(ChosenPortMissing(ports) ? QString(ListToolTip) + "\n" + MissingPortToolTip
                                             : QString(ListToolTip));
}

QString ChosenPort(const QComboBox *ports) {
  int index = ports->currentIndex();
  if (index < 0)
    return {};
  QVariant name = ports->itemData(index);
  return name.isValid() ? name.toString() : ports->itemText(index);
}

bool ChosenPortMissing(const QComboBox *ports) {
  int index = ports->currentIndex();
  return index >= 0 && ports->itemData(index, MissingRole).toBool();
}

QString FirstRunPort(const std::vector<PortEntry> &present, const std::string &defaultPort) {
  for (const PortEntry &entry : present)
    if (entry.Answers(defaultPort))
      return QString::fromStdString(entry.Name);
  return present.empty() ? QString() : QString::fromStdString(present.front().Name);
}

void ShowPorts(QComboBox *ports, const std::vector<PortEntry> &present, const QString &keep) {
  int chosen = -1;
  std::vector<Item> items = ItemsFor(present, keep, chosen);
  QSignalBlocker quiet(ports);
  if (!Shows(ports, items)) {
    ports->clear();
    const QIcon warning = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (const Item &item : items) {
      int i = ports->count();
      if (item.Missing)
        ports->addItem(warning, item.Text, item.Name);
      else
        ports->addItem(item.Text, item.Name);
      ports->setItemData(i, item.Tip, Qt::ToolTipRole);
      ports->setItemData(i, item.Missing, MissingRole);
    }
  }
  if (ports->currentIndex() != chosen)
    ports->setCurrentIndex(chosen);
  ShowChoiceToolTip(ports);
}

} // namespace kestrune
