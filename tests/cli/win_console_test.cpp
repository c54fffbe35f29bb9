// tl8ctl's report in a Windows console, read back from the console's screen
// buffer: what a person at the console sees. It needs a console on stderr
// (scripts/windows.sh runs it on a terminal, which Wine makes a console);
// without one, as under CTest, the cases are skipped.

#include "cli/report.h"
#include "cli/standard_console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <QString>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

class ConsoleReport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!::GetConsoleMode(console, &mode)) GTEST_SKIP() << "stderr is not a console";
    codePage = ::GetConsoleOutputCP();
  }
  void TearDown() override {
    if (codePage == 0) return;
    ::SetConsoleOutputCP(codePage);
    ::SetConsoleMode(console, mode);
  }

  // The text of the console's row `offset` rows from the cursor's, blanks
  // at its end left out.
  QString Row(int offset = 0) const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(console, &info)) return QStringLiteral("<no buffer>");
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    const COORD start{0, static_cast<SHORT>(info.dwCursorPosition.Y + offset)};
    ::ReadConsoleOutputCharacterW(console, row.data(), info.dwSize.X, start, &read);
    row.resize(read);
    while (!row.empty() && row.back() == L' ') row.pop_back();
    return QString::fromStdWString(row);
  }

  StandardConsole standard;
  const HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  UINT codePage = 0;
};

TEST_F(ConsoleReport, RussianTextShowsWholeInEveryCodePage) {
  const QString text = QStringLiteral("Неудача при открытии порта COM7");
  for (const UINT page : {437u, 866u, 65001u}) {
    ::SetConsoleOutputCP(page);
    Report(false, standard).Error(text);
    EXPECT_EQ(Row(-1), text) << "code page " << page;
  }
}

// The classic console shows an escape character as it stands: there the
// rest of a longer progress line is blanked instead.
TEST_F(ConsoleReport, ProgressLineWithoutEscapesLeavesNothingOfALongerOne) {
  ASSERT_TRUE(::SetConsoleMode(console, mode & ~DWORD{ENABLE_VIRTUAL_TERMINAL_PROCESSING}));
  Report report(false, standard);
  report.Progress(QStringLiteral("reading parameter 12/16"));
  EXPECT_EQ(Row(), QStringLiteral("reading parameter 12/16"));
  report.Progress(QStringLiteral("writing 3/16"));
  EXPECT_EQ(Row(), QStringLiteral("writing 3/16"));
  report.EndProgress();
  EXPECT_EQ(Row(), QString());
}

}  // namespace
