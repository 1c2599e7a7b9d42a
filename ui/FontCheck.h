// Whether the fonts at hand can draw the program's Korean texts. Without a
// CJK font they would show as empty boxes; the window says so once.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace kestrune {

// The Korean status texts the workers show.
QStringList KoreanStatusTexts();

// The characters of `texts` that neither `font` nor any installed font
// that claims Korean can draw; empty when every one can be drawn.
QString UndrawableCharacters(const QStringList &texts, const QFont &font);

constexpr const char *MissingKoreanFontText =
    "No installed font can draw the Korean status texts; they will show as empty boxes. "
    "Install a Korean font (on Debian: fonts-nanum).";

} // namespace kestrune
