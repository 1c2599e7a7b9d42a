#include "ui/FontCheck.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace kestrune {

QStringList KoreanStatusTexts() {
  return {QString::fromUtf8("전원 On/Reset Mobile"), QString::fromUtf8("다운로드 완료 !!!!!!!!!!!!!!!!!"),
          QString::fromUtf8("해당 BIN file 을 찾을 수 없습니다.")};
}

QString UndrawableCharacters(const QStringList &texts, const QFont &font) {
  // The font itself first, then every family that claims Korean: Qt falls
  // back to those for characters the chosen font lacks.
  QList<QFontMetrics> candidates{QFontMetrics(font)};
  for (const QString &family : QFontDatabase::families(QFontDatabase::Korean))
    candidates.append(QFontMetrics(QFont(family)));
  QString missing;
  for (const QString &text : texts) {
    for (QChar c : text) {
      if (c.isSpace() || missing.contains(c))
        continue;
      bool drawable = false;
      for (const QFontMetrics &metrics : candidates) {
        if (metrics.inFont(c)) {
          drawable = true;
          break;
        }
      }
      if (!drawable)
        missing += c;
    }
  }
  return missing;
}

} // namespace kestrune
