#include "windows/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QList>
#include <QStringList>

#include <algorithm>

namespace {

bool Suits(const QString& family, FontPitch pitch) {
  return QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic) &&
         QFontDatabase::isFixedPitch(family) == (pitch == FontPitch::Fixed) &&
         !QFontDatabase::isPrivateFamily(family);
}

}  // namespace

QFont RussianFont(QFont font, FontPitch pitch) {
  if (Suits(QFontInfo(font).family(), pitch)) return font;
  const QStringList families = QFontDatabase::families(QFontDatabase::Cyrillic);
  const auto found = std::find_if(families.begin(), families.end(),
                                  [pitch](const QString& family) { return Suits(family, pitch); });
  if (found != families.end()) font.setFamilies({*found});
  return font;
}
