// The fonts the tool takes: where the family asked for is missing, one that
// writes Cyrillic itself, with the pitch asked for. (Letters a font lacks come
// from another font, below the first one's line: group box titles lose the
// bottoms of them.) Offscreen on Windows Qt knows no fonts at all, and the
// cases are skipped; scripts/windows.sh runs them on Qt's windows platform
// under Wine, whose prefix lacks Windows' fonts.

#include "windows/fonts.h"

#include "tests/support/qt_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

namespace {

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QFontDatabase::families(QFontDatabase::Cyrillic).isEmpty())
      GTEST_SKIP() << "the platform knows no font that writes Cyrillic";
  }

  // The family `font` resolves to writes Cyrillic, with the pitch asked for.
  static void ExpectShowsRussianWhole(const QFont& font, FontPitch pitch) {
    const QFontInfo info(font);
    EXPECT_TRUE(QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Cyrillic))
        << info.family().toStdString();
    EXPECT_EQ(info.fixedPitch(), pitch == FontPitch::Fixed) << info.family().toStdString();
  }

  QApplication& app = TestApp();
};

TEST_F(Fonts, AMissingFamilyGivesWayToOneThatShowsRussianWithThePitchAskedFor) {
  for (const FontPitch pitch : {FontPitch::Proportional, FontPitch::Fixed}) {
    QFont missing(QStringLiteral("No Such Family 7"));
    missing.setPointSize(9);
    const QFont font = RussianFont(missing, pitch);
    ExpectShowsRussianWhole(font, pitch);
    EXPECT_EQ(font.pointSize(), 9);
  }
}

TEST_F(Fonts, AFamilyThatShowsRussianStays) {
  for (const QString& family : QFontDatabase::families(QFontDatabase::Cyrillic)) {
    if (QFontDatabase::isFixedPitch(family) || QFontDatabase::isPrivateFamily(family)) continue;
    const QFont font(family);
    EXPECT_EQ(RussianFont(font, FontPitch::Proportional), font) << family.toStdString();
    return;
  }
  FAIL() << "no proportional family writes Cyrillic";
}

// What the tool's windows take: the system's font for windows and its
// fixed-pitch one (the line monitor's), unless they are missing.
TEST_F(Fonts, TheSystemsFontsOrTheirStandInsShowRussianWhole) {
  ExpectShowsRussianWhole(RussianFont(QApplication::font(), FontPitch::Proportional),
                          FontPitch::Proportional);
  ExpectShowsRussianWhole(
      RussianFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), FontPitch::Fixed),
      FontPitch::Fixed);
}

}  // namespace
