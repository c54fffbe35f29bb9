// The tool's text files: the coefficient file's bytes and lenient reading,
// tmp.dat's lines, reads that take no more than the lines they need, saves
// that never destroy the file they replace, and failures that say why.

#include "modbus/coeffile.h"
#include "modbus/boundsfile.h"
#include "modbus/textfile.h"

#ifndef _WIN32
#include "tests/support/file_faults.h"
#endif
#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

CoefFileFields SampleFields() {
  return {QStringLiteral("12"),
          QStringLiteral("05/03/2024(09:07:01)"),
          QStringLiteral("Зав-7"),
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
      {"three lines", "7\r\n01/02/2024(10:20:30)\r\n123\r\n", "7", "01/02/2024(10:20:30)", "123",
       "", ""},
      {"Ctrl-Z ends the file", "1\r\n2\x1A\r\n3\r\n", "1", "2", "", "", ""},
      {"blank lines after the fifteenth",
       "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n\r\n \t\n\n", "1", "2", "3", "4", "15"},
      {"nothing trimmed", " 1 \r\n\t2\r\n", " 1 ", "\t2", "", "", ""},
      {"empty file", "", "", "", "", "", ""},
      {"a line as long as a line may be is whole", QByteArray(kLongestLine, '7') + "\r\n2\r\n",
       QString(kLongestLine, '7'), "2", "", "", ""},
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

// The message of the file error the attempt ends with.
std::string FailureOf(const std::function<void()>& attempt) {
  try {
    attempt();
  } catch (const EFileError& failure) {
    return failure.what();
  }
  return "succeeded";
}

#ifndef _WIN32
void MakeWritableForAll(const QString& path) {
  ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0666), 0);
}
#endif

// The text the user is shown for that failure.
std::string Failure(const char* action, const QString& path, const char* reason) {
  return "Cannot " + std::string(action) + " \"" + path.toStdString() + "\": " + reason;
}

TEST(CoefFile, MissingFileIsReported) {
  QTemporaryDir dir;
  const QString path = dir.filePath("none.dat");
  EXPECT_EQ(FailureOf([&] { LoadCoefFile(path); }),
            Failure("read", path, "No such file or directory"));
}

TEST(BoundsFile, SixLinesWholeAndUnconverted) {
  QTemporaryDir dir;
  const QString path = dir.filePath("tmp.dat");
  const struct {
    const char* name;
    QByteArray bytes;
    std::array<QString, 6> bounds;
  } cases[] = {
      {"as written",
       "1.00\r\n-2.50\r\n3\r\n4\r\n5\r\n6\r\n7.00\r\n7.00\r\n",
       {"1.00", "-2.50", "3", "4", "5", "6"}},
      {"LF alone ends a line, CR alone does not", "1\n2\r3\r\n", {"1", "2\r3", "", "", "", ""}},
      {"nothing trimmed, no Ctrl-Z rule", " 1 \r\n2\x1A\r\n", {" 1 ", "2\x1A", "", "", "", ""}},
      {"empty", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.bytes);
    EXPECT_EQ(LoadBoundsFile(path), c.bounds);
  }

  BoundsFile file(path);
  for (const char* line :
       {"1010.00", "630.00", "85.00", "-40.00", "200.00", "1.50", "4.00", "4.00"})
    file.AddLine(line);
  EXPECT_EQ(FileBytes(path), "") << "nothing replaced before the read has got through";
  file.Finish();
  EXPECT_EQ(FileBytes(path),
            "1010.00\r\n630.00\r\n85.00\r\n-40.00\r\n200.00\r\n1.50\r\n4.00\r\n4.00\r\n");
}

// A line past kLongestLine is bad data wherever it is in the file, never a
// shorter value: "0.<1030 zeros>5e1030" is 0.5, its first 1024 characters
// are 0. Only what follows a Ctrl-Z that ends a coefficient file is not read.
TEST(TextFile, ALineTooLongIsBadDataNeverCut) {
  const QByteArray half = "0." + QByteArray(1030, '0') + "5e1030";
  const QByteArray tooLong(kLongestLine + 1, '1');
  const QByteArray fifteen = QByteArray("1\r\n").repeated(15);
  const QByteArray six = QByteArray("1\r\n").repeated(6);
  const struct {
    const char* name;
    QByteArray bytes;
    bool coefFile;  // else tmp.dat
    bool refused;
  } cases[] = {
      {"a coefficient of 0.5 written long", "1\r\n\r\n7\r\n" + half + "\r\n", true, true},
      {"one byte too long", tooLong + "\r\n", true, true},
      {"the last line, without an end", "1\r\n" + tooLong, true, true},
      {"the fifteenth line", QByteArray("1\r\n").repeated(14) + tooLong, true, true},
      {"after the fifteenth line", fifteen + tooLong, true, true},
      {"after Ctrl-Z", "1\x1A" + tooLong, true, false},
      {"the line end is no part of the line", QByteArray(kLongestLine, '1') + "\r\n", true, false},
      {"a bound", "1\r\n" + half + "\r\n", false, true},
      {"a lone CR is text in tmp.dat", QByteArray(kLongestLine, '1') + "\r2\r\n", false, true},
      {"the seventh line of tmp.dat", six + tooLong, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parse = [&] {
      if (c.coefFile) {
        ParseCoefFile(c.bytes);
      } else {
        ParseBoundsFile(c.bytes);
      }
    };
    if (c.refused) {
      EXPECT_THROW(parse(), EBadFileData);
    } else {
      EXPECT_NO_THROW(parse());
    }
  }
}

// A line end too many moves every value after it one place on and loses the
// last: a file with more lines holding anything than its format has is bad
// data, whichever line end (CR, LF, CR LF) made the extra line. Blank lines
// after the last one, and whatever follows a Ctrl-Z, are no values.
TEST(TextFile, ALineTooManyIsBadData) {
  CoefFileFields full = SampleFields();
  full.Coefficients.back() = QStringLiteral("4.0000");  // every line holds a value
  const QByteArray saved = CoefFileBytes(full);
  const qsizetype fifth = saved.indexOf("630.00");  // line 5: the second coefficient
  const QByteArray bounds = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n";
  const struct {
    const char* name;
    QByteArray bytes;
    bool coefFile;  // else tmp.dat
    bool refused;
  } cases[] = {
      {"a lone CR inside line 5", QByteArray(saved).insert(fifth + 3, '\r'), true, true},
      {"a lone CR at the end of line 5", QByteArray(saved).insert(fifth + 6, '\r'), true, true},
      {"a lone LF inside line 5", QByteArray(saved).insert(fifth + 3, '\n'), true, true},
      {"a sixteenth line", saved + "0\r\n", true, true},
      {"blank lines after the fifteenth", saved + "\r\n \r\r\n\t\n", true, false},
      {"anything after a Ctrl-Z", saved + "\x1A" + "16\r\n17\r\n", true, false},
      {"a ninth line in tmp.dat", bounds + "9\r\n", false, true},
      {"the eight lines tmp.dat holds, and a blank one", bounds + "\r\n", false, false},
      {"a file longer than any such file, of blank lines",
       saved + QByteArray(" \r\n").repeated(8 * kLongestLine), true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parse = [&] {
      if (c.coefFile) {
        ParseCoefFile(c.bytes);
      } else {
        ParseBoundsFile(c.bytes);
      }
    };
    if (c.refused) {
      EXPECT_THROW(parse(), ETooManyLines);
    } else {
      EXPECT_NO_THROW(parse());
    }
  }
}

// A file without a line end is read only up to the first line past the limit,
// not to its end: a file of gigabytes is refused at once.
TEST(TextFile, ReadingStopsAtTheFirstLinePastTheLimit) {
  QBuffer buffer;
  buffer.setData(QByteArray(4 << 20, '\0'));
  ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
  EXPECT_THROW(ReadFirstLines(buffer, kCoefFileLines, kCoefFileLines, {true, true}), ELineTooLong);
  EXPECT_LE(buffer.pos(), 64 * 1024);

  QTemporaryDir dir;
  const QString path = dir.filePath("endless.dat");
  WriteFile(path, QByteArray(4 << 20, '\0'));
  EXPECT_THROW(LoadCoefFile(path), ELineTooLong);
  EXPECT_THROW(LoadBoundsFile(path), ELineTooLong);
}

// A file of many megabytes is read only as far as it can be such a file (a
// few kilobytes), however its lines end: it is refused there, or taken where
// a Ctrl-Z ends it.
TEST(TextFile, ReadingStopsWhereTheFormatEnds) {
  const QByteArray rest(4 << 20, 'x');
  const QByteArray blanks = QByteArray("\r\n").repeated(2 << 20);
  const struct {
    const char* name;
    QByteArray bytes;
    int count, held;
    LineRules rules;
    qsizetype lines;  // -1: refused
  } cases[] = {
      {"fifteen lines and more", QByteArray("1\r\n").repeated(15) + rest, 15, 15, {true, true}, -1},
      {"fifteen lines and endless blank ones",
       QByteArray("1\r\n").repeated(15) + blanks,
       15,
       15,
       {true, true},
       -1},
      {"Ctrl-Z", "1\r\n2\x1A" + rest, 15, 15, {true, true}, 2},
      {"six lines of tmp.dat and more",
       QByteArray("1\r\n").repeated(6) + rest,
       6,
       8,
       {false, false},
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QBuffer buffer;
    buffer.setData(c.bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    if (c.lines < 0) {
      EXPECT_THROW(ReadFirstLines(buffer, c.count, c.held, c.rules), EBadFileData);
    } else {
      EXPECT_EQ(ReadFirstLines(buffer, c.count, c.held, c.rules).size(), c.lines);
    }
    EXPECT_LE(buffer.pos(), 64 * 1024);
  }
}

#ifndef _WIN32  // FIFOs and /dev/zero
// Something that is not a regular file is refused before it is opened: a
// FIFO would block the opening for good, /dev/zero would never end.
TEST(TextFile, OnlyRegularFilesAreReadOrReplaced) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("fifo.dat");
  ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
  const QString folder = dir.filePath("folder.dat");
  ASSERT_TRUE(QDir().mkdir(folder));

  for (const QString& path : {fifo, folder, QStringLiteral("/dev/zero")}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(FailureOf([&] { LoadCoefFile(path); }), Failure("read", path, "Not a regular file"));
    EXPECT_EQ(FailureOf([&] { LoadBoundsFile(path); }),
              Failure("read", path, "Not a regular file"));
  }
  for (const QString& path : {fifo, folder}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(FailureOf([&] { SaveCoefFile(path, SampleFields()); }),
              Failure("save", path, "Not a regular file"));
    EXPECT_EQ(FailureOf([&] { BoundsFile file(path); }),
              Failure("write", path, "Not a regular file"));
  }
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(
      QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(), 2)
      << "a copy was left behind";
}
#endif

#ifndef _WIN32  // a mounted tmpfs and another file-system user
// A full disk: the copy beside the file cannot be written whole, and the old
// file stays as it was, without a leftover copy.
TEST(TextFile, AFullDiskKeepsTheOldFile) {
  TinyDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  const QString coef = disk.FilePath("coef.dat");
  const QString bounds = disk.FilePath("tmp.dat");
  WriteFile(coef, "old coefficients");
  WriteFile(bounds, "old bounds\r\n");
  disk.Fill();

  EXPECT_EQ(FailureOf([&] { SaveCoefFile(coef, SampleFields()); }),
            Failure("save", coef, "No space left on device"));
  EXPECT_EQ(FailureOf([&] {
              BoundsFile file(bounds);
              file.AddLine("1.00");
              file.Finish();
            }),
            Failure("write", bounds, "No space left on device"));
  EXPECT_EQ(FileBytes(coef), "old coefficients");
  EXPECT_EQ(FileBytes(bounds), "old bounds\r\n");
  EXPECT_EQ(QDir(disk.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 3);
}

// Where no copy can be made beside the file but the file itself is writable,
// it is overwritten in place and cut to its new length.
TEST(TextFile, WithoutRoomForACopyTheFileIsWrittenInPlace) {
  // A folder that takes no new file from its user, holding a file it may write.
  const QByteArray expected = CoefFileBytes(SampleFields());
  const QByteArray longer(3 * expected.size(), 'o');
  TinyDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  const QString path = disk.FilePath("coef.dat");
  WriteFile(path, longer);
  MakeWritableForAll(path);
  {
    AsOrdinaryUser user;
    if (!user.Active()) GTEST_SKIP() << "switching the file-system user is not permitted here";
    EXPECT_EQ(FailureOf([&] { BoundsFile file(disk.FilePath("tmp.dat")); }),
              Failure("write", disk.FilePath("tmp.dat"), "Permission denied"))
        << "no file, no room in the folder: the folder's reason";
    SaveCoefFile(path, SampleFields());
  }
  EXPECT_EQ(FileBytes(path), expected);
  EXPECT_EQ(QDir(disk.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
}

// In a folder every user may write (like /tmp), another user's link under
// the name: tmp.dat, which the tool names itself, is never a link; a file the
// user named may be one only where the kernel would follow it. Refused, the
// link and its target stay as they were.
TEST(TextFile, LinksPlantedInASharedFolderAreRefusedWithTheFileErrorForm) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a link to another user takes root";
  QTemporaryDir dir;
  const QString target = dir.filePath("root-only.dat");
  WriteFile(target, "root's data");
  const QString shared = dir.filePath("shared");
  ASSERT_TRUE(QDir().mkdir(shared));
  ASSERT_EQ(chmod(qPrintable(shared), 01777), 0);
  const auto plant = [&](const QString& name, const QString& to, uid_t owner) {
    const QString link = shared + "/" + name;
    EXPECT_TRUE(QFile::link(to, link));
    EXPECT_EQ(lchown(qPrintable(link), owner, owner), 0);
    return link;
  };
  const QString tmpDat = plant("tmp.dat", target, 65534);
  const QString dangling = plant("dangling.dat", dir.filePath("new.dat"), 65534);
  const QString coef = plant("coef.dat", target, 65534);

  for (const QString& link : {tmpDat, dangling})
    EXPECT_EQ(FailureOf([&] { BoundsFile file(link); }),
              Failure("write", link, "Is a symbolic link"));
  EXPECT_EQ(FailureOf([&] { SaveCoefFile(coef, SampleFields()); }),
            Failure("save", coef, "A symbolic link of another user in a folder others can write"));
  EXPECT_EQ(FileBytes(target), "root's data");
  EXPECT_FALSE(QFile::exists(dir.filePath("new.dat")));
  EXPECT_EQ(QDir(shared).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(),
            3);

  // The user's own link is followed: the target is replaced, the link stays.
  const QString own = plant("own.dat", target, 0);
  SaveCoefFile(own, SampleFields());
  EXPECT_EQ(FileBytes(target), CoefFileBytes(SampleFields()));
  EXPECT_TRUE(QFileInfo(own).isSymLink());
}

TEST(TextFile, AFailedWriteInPlaceSaysTheOldContentMayBeLost) {
  TinyDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  const QString path = disk.FilePath("coef.dat");
  WriteFile(path, "old");
  MakeWritableForAll(path);
  disk.Fill();
  CoefFileFields big = SampleFields();
  big.Coefficients[0] = QString(6000, '1');  // needs a second page
  AsOrdinaryUser user;
  if (!user.Active()) GTEST_SKIP() << "switching the file-system user is not permitted here";
  EXPECT_EQ(FailureOf([&] { SaveCoefFile(path, big); }),
            Failure("save", path,
                    "No space left on device; the file was being overwritten in place, its old "
                    "content may be lost"));
}
#endif

}  // namespace
