// The station's keys: F5 starts every idle channel, Shift+F5 and Esc stop
// every running one, wherever the focus is in the window. The buttons' tool
// tips name them after their classic texts.
#include "ui/KestruneUiForm.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>

namespace kestrune {

void TKestruneUiForm::AddStationShortcuts() {
  auto add = [this](QKeySequence keys, const char *name, void (TKestruneUiForm::*click)()) {
    auto *shortcut = new QShortcut(keys, this);
    shortcut->setObjectName(name);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, click] { (this->*click)(); });
  };
  add(QKeySequence(Qt::Key_F5), "StartAllShortcut", &TKestruneUiForm::StartAllClick);
  add(QKeySequence(Qt::SHIFT | Qt::Key_F5), "StopAllShortcut", &TKestruneUiForm::StopAllClick);
  add(QKeySequence(Qt::Key_Escape), "StopAllEscShortcut", &TKestruneUiForm::StopAllClick);
  StartAllButton->setToolTip(StartAllButton->toolTip() + " (F5)");
  StopAllButton->setToolTip(StopAllButton->toolTip() + " (Shift+F5, Esc)");
}

} // namespace kestrune
