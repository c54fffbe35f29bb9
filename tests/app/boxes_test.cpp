// The application title and the standard error report's text.
#include "ui/boxes.h"
#include "modbus/requests.h"
#include "tests/support/scripted_boxes.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ApplicationTitle, KeepsFirstLetterLowersTheRestCutsAtFirstDot) {
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"/opt/tool/Tl8v05", "Tl8v05"}, {"tl8v05", "tl8v05"}, {"TL8V05.EXE", "Tl8v05"},
      {"c/my.tool.exe", "my"},        {"xTOOL", "xtool"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ApplicationTitleFromPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.title))
        << c.path;
}

TEST(ErrorReport, AppendsFullStopOnlyAfterCharactersSortingAfterIt) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Failed to store settings", "Failed to store settings."},
      {"WriteFile function failed (win error code: 9)",
       "WriteFile function failed (win error code: 9)"},
      {"Done.", "Done."},
      {"Сбой", "Сбой."},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorReportText(std::runtime_error(c.message)), QString::fromUtf8(c.shown))
        << c.message;
}

// A stop request ends the handler quietly: the tool is closing. Any other
// failure reaches the standard report.
TEST(RunHandler, ReportsFailuresButNotAStopRequest) {
  ScriptedBoxes boxes;
  bool after = false;
  RunHandler([&] {
    throw EStopRequested();
    after = true;
  });
  EXPECT_TRUE(boxes.Shown().empty());
  RunHandler([] { throw std::runtime_error("WriteFile function failed (win error code: 5)"); });
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].icon, BoxIcon::Error);
  EXPECT_EQ(boxes.Shown()[0].text, QStringLiteral("WriteFile function failed (win error code: 5)"));
  EXPECT_FALSE(after);
}
