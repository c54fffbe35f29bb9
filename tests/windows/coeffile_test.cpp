// The coefficient file: its bytes, its lenient reading and a save that never
// destroys the file it replaces.

#include "windows/coeffile.h"

#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {

CoefFileFields SampleFields() {
  return {QStringLiteral("12"), QStringLiteral("05/03/2024(09:07:01)"), QStringLiteral("Зав-7"),
          {"1010.00", "630.00", "16.0000", "4.0000", "85.00", "-40.00", "16.0000", "4.0000",
           "200.00", "1.50", "1.5E-3", ""}};
}

TEST(CoefFile, FifteenWindows1251LinesWithCrLfThatReadBack) {
  const CoefFileFields fields = SampleFields();
  const QByteArray expected =
      "12\r\n05/03/2024(09:07:01)\r\n\xC7\xE0\xE2-7\r\n"
      "1010.00\r\n630.00\r\n16.0000\r\n4.0000\r\n85.00\r\n-40.00\r\n16.0000\r\n4.0000\r\n"
      "200.00\r\n1.50\r\n1.5E-3\r\n\r\n";
  EXPECT_EQ(CoefFileBytes(fields), expected);
  EXPECT_EQ(ParseCoefFile(expected), fields);

  QTemporaryDir dir;
  const QString path = dir.filePath("coef.dat");
  SaveCoefFile(path, fields);
  EXPECT_EQ(FileBytes(path), expected);
  EXPECT_EQ(LoadCoefFile(path), fields);
}

TEST(CoefFile, ReadingTakesLinesByPositionOnly) {
  const struct {
    const char* name;
    QByteArray bytes;
    QString address, date, serial, first, last;  // last: parameter 12
  } cases[] = {
      {"LF ends", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n", "1", "2", "3", "4", "15"},
      {"CR ends", "1\r2\r3\r4\r5\r6\r7\r8\r9\r10\r11\r12\r13\r14\r15", "1", "2", "3", "4", "15"},
      {"mixed ends, empty lines kept", "1\r\n\r\r\n4\n", "1", "", "", "4", ""},
      {"three lines", "7\r\n01/02/2024(10:20:30)\r\n123\r\n", "7", "01/02/2024(10:20:30)", "123", "", ""},
      {"Ctrl-Z ends the file", "1\r\n2\x1A\r\n3\r\n", "1", "2", "", "", ""},
      {"lines after the fifteenth ignored",
       "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n", "1", "2", "3", "4", "15"},
      {"nothing trimmed", " 1 \r\n\t2\r\n", " 1 ", "\t2", "", "", ""},
      {"empty file", "", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CoefFileFields fields = ParseCoefFile(c.bytes);
    EXPECT_EQ(fields.Address, c.address);
    EXPECT_EQ(fields.Date, c.date);
    EXPECT_EQ(fields.SerialNumber, c.serial);
    EXPECT_EQ(fields.Coefficients.front(), c.first);
    EXPECT_EQ(fields.Coefficients.back(), c.last);
  }
}

TEST(CoefFile, Windows1251BothWays) {
  QByteArray all;
  for (int byte = 0; byte < 256; ++byte) all.append(static_cast<char>(byte));
  const QString decoded = FromWindows1251(all);
  EXPECT_EQ(ToWindows1251(decoded), all);  // every byte survives a round trip
  EXPECT_EQ(decoded.mid(0xC0, 3), QStringLiteral("АБВ"));
  EXPECT_EQ(decoded.mid(0xFD, 3), QStringLiteral("эюя"));
  EXPECT_EQ(decoded[0xA8], QChar(u'Ё'));
  EXPECT_EQ(decoded[0xB9], QChar(u'№'));

  // The platform's converter, where it has the code page, is an independent reference.
  QStringDecoder platform("windows-1251");
  if (platform.isValid()) {
    EXPECT_EQ(decoded, QString(platform.decode(all)));
  }

  // Characters the code page lacks become "?", never Ctrl-Z, which would end the file.
  EXPECT_EQ(ToWindows1251(QStringLiteral("Ж中€ü")), QByteArray("\xC6?\x88?"));
}

TEST(CoefFile, DateLineFromTheLocalClock) {
  EXPECT_EQ(CoefFileDateText(QDateTime(QDate(2024, 3, 5), QTime(21, 7, 1))),
            QStringLiteral("05/03/2024(21:07:01)"));
}

// Failures that even root cannot bypass: a name at the length limit leaves no
// room for the copy beside it, and a directory cannot be replaced by a file.
TEST(CoefFile, FailedSaveKeepsWhatWasThere) {
  QTemporaryDir dir;
  const QString longName = dir.filePath(QString(251, u'a') + ".dat");  // 255 characters
  WriteFile(longName, "old content");
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.dat"));
  ASSERT_TRUE(QFile::exists(longName));

  for (const QString& path : {longName, dir.filePath("folder.dat")}) {
    SCOPED_TRACE(path.toStdString());
    try {
      SaveCoefFile(path, SampleFields());
      ADD_FAILURE() << "the save did not fail";
    } catch (const std::runtime_error& failure) {
      EXPECT_TRUE(QString::fromUtf8(failure.what()).startsWith("Cannot save \"" + path + "\": "))
          << failure.what();
    }
  }
  EXPECT_EQ(FileBytes(longName), "old content");
  EXPECT_TRUE(QFileInfo(dir.filePath("folder.dat")).isDir());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 2)
      << "a temporary copy was left behind";
}

TEST(CoefFile, MissingFileIsReported) {
  QTemporaryDir dir;
  const QString path = dir.filePath("none.dat");
  try {
    LoadCoefFile(path);
    ADD_FAILURE() << "a missing file was read";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(QString::fromUtf8(failure.what()),
              "Cannot read \"" + path + "\": No such file or directory");
  }
}

}  // namespace
