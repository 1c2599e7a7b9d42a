// The window's port lists while it runs: a timer looks for adapters that
// have been plugged in or pulled out, so that no restart is needed. A
// running channel's list is left as it is (its port is in use and its list
// is locked); an idle channel keeps its chosen port, marked missing while it
// is gone; a list the operator has opened is not changed under the mouse.
#include "ui/KestruneUiForm.h"
#include "ui/PortLists.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QTimer>

namespace kestrune {
namespace {

// Often enough that a plugged-in adapter is listed before the operator
// reaches for the list; a rescan opens only ports it has not seen before.
constexpr int PortRescanIntervalMs = 1000;

} // namespace

void TKestruneUiForm::StartPortRescan() {
  PortRescanTimer = new QTimer(this);
  PortRescanTimer->setObjectName("PortRescanTimer");
  PortRescanTimer->setInterval(PortRescanIntervalMs);
  connect(PortRescanTimer, &QTimer::timeout, this, [this] { RescanPorts(); });
  PortRescanTimer->start();
}

void TKestruneUiForm::RescanPorts() {
  if (State != Lifecycle::Open)
    return;
  PresentPorts = Scanner.Scan();
  for (int channel = 0; channel < ChannelCount; ++channel) {
    QComboBox *ports = PortCBox[channel];
    if (CommsThread[channel] != nullptr || ports->view()->isVisible())
      continue;
    ShowPorts(ports, PresentPorts, ChosenPort(ports));
    // The chosen name itself may have changed: a kernel name that now has a
    // stable name beside it.
    Panel[channel]->SetPortText(PortText(channel).toStdString());
    ParameterChange(channel);
  }
}

} // namespace kestrune
