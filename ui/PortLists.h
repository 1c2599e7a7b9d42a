// A channel's port list: one entry per present port (its text the port's
// label, its data the name a channel opens and the settings keep), plus
// the channel's chosen port when that is not present, marked missing. A
// missing port stays chosen and saved until the operator chooses another.
#pragma once

#include "platform/PortList.h"

#include <QString>

#include <vector>

class QComboBox;

namespace kestrune {

// Appended to the text of a chosen port that is not present.
constexpr const char *MissingPortSuffix = " (missing)";
constexpr const char *MissingPortToolTip =
    "This port is not present now (unplugged or switched off). It stays this channel's "
    "port and is kept in the settings until another port is chosen.";

// The name of the port a list has chosen; "" when nothing is chosen.
QString ChosenPort(const QComboBox *ports);
// Whether the chosen entry is a port that is not present.
bool ChosenPortMissing(const QComboBox *ports);
// The list's tool tip, with the missing port's note while one is chosen.
void ShowChoiceToolTip(QComboBox *ports);

// Gives the list one entry per present port and chooses `keep`: the entry
// that answers for it, or an entry of its own marked missing; nothing when
// keep is empty. The list is left alone when it already shows exactly
// that, and it emits no signals while it changes.
void ShowPorts(QComboBox *ports, const std::vector<PortEntry> &present, const QString &keep);

// The port a channel starts on when nothing is saved: the entry answering
// for the default port, else the first entry, else none.
QString FirstRunPort(const std::vector<PortEntry> &present, const std::string &defaultPort);

} // namespace kestrune
