// The application title and the standard error report's text.
#include "modbus/boxes.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ApplicationTitle, KeepsFirstLetterLowersTheRestCutsAtFirstDot) {
  const struct { const char* path; const char* title; } cases[] = {
      {"/opt/tool/Tl8v05", "Tl8v05"},
      {"tl8v05", "tl8v05"},
      {"TL8V05.EXE", "Tl8v05"},
      {"c/my.tool.exe", "my"},
      {"xTOOL", "xtool"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ApplicationTitleFromPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.title))
        << c.path;
}

TEST(ErrorReport, AppendsFullStopOnlyAfterCharactersSortingAfterIt) {
  const struct { const char* message; const char* shown; } cases[] = {
      {"Failed to store settings", "Failed to store settings."},
      {"WriteFile function failed (win error code: 9)", "WriteFile function failed (win error code: 9)"},
      {"Done.", "Done."},
      {"Сбой", "Сбой."},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorReportText(std::runtime_error(c.message)), QString::fromUtf8(c.shown)) << c.message;
}
