// The file guard on Linux, as root in folders other users can write: which
// symbolic links a file's name (or a folder's to be made) may be, judged as
// the kernel judges them with fs.protected_symlinks=1 (this machine's kernel
// may not) and by where another user's link leads, and that a refused link
// and its target stay exactly as they were. Ownership is handed to another
// user with chown, so these tests need root.

#include "os/platform.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;
const QString kLinkRefused = QStringLiteral("Is a symbolic link");
const QString kForeignLinkRefused =
    QStringLiteral("A symbolic link of another user in a folder others can write");
const QString kUnsafeHopRefused =
    QStringLiteral("A symbolic link of another user leads to a file or folder of root or of yours");
const QString kDanglingRefused =
    QStringLiteral("A symbolic link leads to a folder that is not there");

std::string Content(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& file, const std::string& content) {
  std::ofstream(file, std::ios::binary) << content;
}

// The entries of a folder, links as links.
std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class FileGuard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "handing files to another user takes root";
    ASSERT_TRUE(dir.isValid());
    base = dir.path().toStdString();
    target = base / "root-only.dat";
    Write(target, "root's data");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  }

  // A folder of its own with `mode` (1777: like /tmp), owned by `owner`.
  fs::path Folder(const std::string& name, mode_t mode, uid_t owner = 0) {
    const fs::path folder = base / name;
    fs::create_directory(folder);
    EXPECT_EQ(chmod(folder.c_str(), mode), 0);
    EXPECT_EQ(chown(folder.c_str(), owner, owner), 0);
    return folder;
  }

  // A symbolic link to `to` that `owner` made.
  static fs::path Link(const fs::path& link, const fs::path& to, uid_t owner) {
    fs::create_symlink(to, link);
    EXPECT_EQ(lchown(link.c_str(), owner, owner), 0);
    return link;
  }

  // Whether `folder` is empty; emptied when not, so that one case's fault
  // is not blamed on the next.
  static bool StaysEmpty(const fs::path& folder) {
    const bool empty = fs::is_empty(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
      fs::remove_all(entry.path());
    return empty;
  }

  // Replaces the file as the tool does; the reason it could not, or "".
  static QString Replace(const fs::path& file, comdev::LinkTrust trust,
                         const QByteArray& content = "new") {
    comdev::PendingFilePtr pending;
    const QString why =
        comdev::OpenPendingFile(QString::fromStdString(file.string()), trust, pending);
    return why.isEmpty() ? comdev::CommitPendingFile(*pending, content) : why;
  }

  QTemporaryDir dir;
  fs::path base;
  fs::path target;  // a file only root may read or write
};

// tmp.dat and the settings file: no link, whoever made it and wherever it
// points; a regular file beside it is replaced as ever.
TEST_F(FileGuard, AFileTheToolNamesIsNeverWrittenThroughALink) {
  const fs::path shared = Folder("shared", 01777);
  const fs::path nowhere = base / "made-by-the-link.dat";
  const struct {
    const char* name;
    fs::path to;
    uid_t owner;
  } cases[] = {
      {"another user's link to root's file", target, kOtherUser},
      {"root's own link", target, 0},
      {"a dangling link", nowhere, kOtherUser},
      {"a link to a link", Link(shared / "hop", target, 0), kOtherUser},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path tmpDat = Link(shared / "tmp.dat", c.to, c.owner);
    const std::vector<std::string> before = Entries(shared);
    EXPECT_EQ(Replace(tmpDat, comdev::LinkTrust::kNone), kLinkRefused);
    EXPECT_TRUE(fs::is_symlink(tmpDat));
    EXPECT_EQ(fs::read_symlink(tmpDat), c.to);
    EXPECT_EQ(Entries(shared), before) << "a copy was left behind";
    fs::remove(tmpDat);
  }
  EXPECT_EQ(Content(target), "root's data");
  EXPECT_FALSE(fs::exists(nowhere));

  Write(shared / "tmp.dat", "old");
  EXPECT_EQ(Replace(shared / "tmp.dat", comdev::LinkTrust::kNone), "");
  EXPECT_EQ(Content(shared / "tmp.dat"), "new");
}

// A file the user names may be a link where the kernel would follow it. The
// links lead to a file of the link's owner, which the rule on where another
// user's link may lead lets through.
TEST_F(FileGuard, AFileTheUserNamesIsALinkOnlyWhereTheKernelWouldFollowIt) {
  const fs::path theirs = base / "theirs.dat";
  const struct {
    const char* name;
    mode_t folderMode;
    uid_t folderOwner;
    uid_t linkOwner;
    bool followed;
  } cases[] = {
      {"another user's link in root's shared folder", 01777, 0, kOtherUser, false},
      {"the process's own link", 01777, 0, 0, true},
      {"the folder owner's link", 01777, kOtherUser, kOtherUser, true},
      {"a folder that is not sticky", 00777, 0, kOtherUser, true},
      {"a sticky folder others cannot write", 01775, 0, kOtherUser, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(theirs, "their data");
    ASSERT_EQ(chown(theirs.c_str(), c.linkOwner, c.linkOwner), 0);
    const fs::path folder = Folder("folder" + std::to_string(++n), c.folderMode, c.folderOwner);
    const fs::path link = Link(folder / "coef.dat", theirs, c.linkOwner);
    EXPECT_EQ(Replace(link, comdev::LinkTrust::kAsProtectedSymlinks),
              c.followed ? "" : kForeignLinkRefused);
    EXPECT_EQ(Content(theirs), c.followed ? "new" : "their data");
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"coef.dat"});
  }
}

// Each link on the way is judged: the second of a link to a link, and a link
// standing for a folder.
TEST_F(FileGuard, EveryHopOfTheNameIsJudged) {
  const fs::path shared = Folder("shared", 01777);
  const fs::path elsewhere = Folder("elsewhere", 0755);
  const fs::path foreignHop = Link(shared / "foreign-hop", target, kOtherUser);
  const fs::path ownHop = Link(shared / "own-hop", target, 0);
  const fs::path foreignFolder = Link(shared / "foreign-folder", elsewhere, kOtherUser);
  const fs::path ownFolder = Link(shared / "own-folder", elsewhere, 0);
  const struct {
    const char* name;
    fs::path file;
    QString refusal;  // empty: followed
    fs::path written;
  } cases[] = {
      {"own link to a foreign link",
       Link(shared / "first", foreignHop, 0),
       kForeignLinkRefused,
       {}},
      {"own link to an own link", Link(shared / "second", ownHop, 0), "", target},
      {"a foreign link as a folder", foreignFolder / "new.dat", kForeignLinkRefused, {}},
      {"an own link as a folder", ownFolder / "new.dat", "", elsewhere / "new.dat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(target, "root's data");
    EXPECT_EQ(Replace(c.file, comdev::LinkTrust::kAsProtectedSymlinks), c.refusal);
    EXPECT_EQ(Content(target), c.written == target ? "new" : "root's data");
    if (!c.written.empty()) {
      EXPECT_EQ(Content(c.written), "new");
    } else {
      EXPECT_TRUE(fs::is_empty(elsewhere));
    }
  }
  EXPECT_EQ(Replace(Link(shared / "only", target, 0), comdev::LinkTrust::kNone), kLinkRefused)
      << "a tool's file is no link even where a user's may be";
}

// Another user's link, even where the kernel would follow it (in a shared
// folder of that user's), never leads root to a file or folder of root's:
// judged by where it leads in the end, or for a file yet to be made, by the
// folder it would be made in. Links of one's own, and links to what their
// owner owns, are followed.
TEST_F(FileGuard, AnotherUsersLinkNeverLeadsToWhatRootOwns) {
  const fs::path theirShared = Folder("their-shared", 01777, kOtherUser);
  const fs::path rootDir = Folder("root-dir", 0755);  // like /root or /etc
  const fs::path rootOwn = Folder("root-own", 0755);
  const fs::path rootData = Folder("root-data", 0755);
  const fs::path theirDir = Folder("their-dir", 0755, kOtherUser);
  const fs::path theirFile = theirDir / "theirs.dat";
  const struct {
    const char* name;
    fs::path file;
    QString refusal;  // empty: followed
    fs::path written;
  } cases[] = {
      {"their link to root's file",
       Link(theirShared / "a.dat", target, kOtherUser),
       kUnsafeHopRefused,
       {}},
      {"their dangling link into root's folder",
       Link(theirShared / "b.dat", rootDir / "new.dat", kOtherUser),
       kUnsafeHopRefused,
       {}},
      {"their link to root's folder in the middle",
       Link(theirShared / "sub", rootDir, kOtherUser) / "out.dat",
       kUnsafeHopRefused,
       {}},
      {"their link to root's link to root's file",
       Link(theirShared / "c.dat", Link(base / "root-hop", target, 0), kOtherUser),
       kUnsafeHopRefused,
       {}},
      {"own link to their link to root's file",
       Link(theirShared / "d.dat", Link(theirShared / "their-hop", target, kOtherUser), 0),
       kUnsafeHopRefused,
       {}},
      {"their link in root's own folder",
       Link(rootOwn / "g.dat", target, kOtherUser),
       kUnsafeHopRefused,
       {}},
      {"their link to their own file", Link(theirShared / "e.dat", theirFile, kOtherUser), "",
       theirFile},
      {"their link to a folder of theirs",
       Link(theirShared / "their-sub", theirDir, kOtherUser) / "new.dat", "", theirDir / "new.dat"},
      {"own link to root's file", Link(theirShared / "f.dat", target, 0), "", target},
      {"own link within own folders", Link(rootOwn / "data", rootData, 0) / "new.dat", "",
       rootData / "new.dat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(target, "root's data");
    Write(theirFile, "their data");
    ASSERT_EQ(chown(theirFile.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(Replace(c.file, comdev::LinkTrust::kAsProtectedSymlinks), c.refusal);
    EXPECT_EQ(Content(target), c.written == target ? "new" : "root's data");
    EXPECT_EQ(Content(theirFile), c.written == theirFile ? "new" : "their data");
    if (!c.written.empty()) {
      EXPECT_EQ(Content(c.written), "new");
    }
    EXPECT_TRUE(StaysEmpty(rootDir));
  }
}

// Folders are made as files are written: each link on the way judged, none
// followed to make what it names, and a refusal makes nothing anywhere.
TEST_F(FileGuard, FoldersAreMadeOnlyWhereLinksMayLead) {
  const fs::path shared = Folder("shared", 01777);  // like /tmp
  const fs::path theirHome = Folder("their-home", 01777, kOtherUser);
  const fs::path etc = Folder("etc", 0755);
  const fs::path dotfiles = Folder("dotfiles", 0755);
  Write(base / "a-file", "x");
  using comdev::LinkTrust;
  const struct {
    const char* name;
    fs::path folder;
    LinkTrust trust;
    QString refusal;  // empty: made (or there already)
    fs::path made;
  } cases[] = {
      {"no link, nothing there yet", base / "fresh" / "Kavrion" / "more", LinkTrust::kNone, "",
       base / "fresh" / "Kavrion" / "more"},
      {"another user's link in a shared folder",
       Link(shared / ".config", etc, kOtherUser) / "Kavrion",
       LinkTrust::kAsProtectedSymlinks,
       kForeignLinkRefused,
       {}},
      {"another user's link to root's folder in that user's shared folder",
       Link(theirHome / ".config", etc, kOtherUser) / "Kavrion",
       LinkTrust::kAsProtectedSymlinks,
       kUnsafeHopRefused,
       {}},
      {"a dangling link on the way",
       Link(shared / "gone", base / "nowhere", 0) / "Kavrion",
       LinkTrust::kAsProtectedSymlinks,
       kDanglingRefused,
       {}},
      {"a dangling link as the folder",
       Link(shared / "gone-last", base / "nowhere", 0),
       LinkTrust::kAsProtectedSymlinks,
       kDanglingRefused,
       {}},
      {"own link to a folder on the way", Link(shared / "own", dotfiles, 0) / "Kavrion",
       LinkTrust::kNone, "", dotfiles / "Kavrion"},
      {"own link as a folder the user named", Link(shared / "own-last", dotfiles, 0),
       LinkTrust::kAsProtectedSymlinks, "", dotfiles},
      {"own link as a folder the tool named",
       shared / "own-last",
       LinkTrust::kNone,
       kLinkRefused,
       {}},
      {"a file in the way", base / "a-file" / "Kavrion", LinkTrust::kNone, "Not a directory", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(comdev::MakeFolders(QString::fromStdString(c.folder.string()), c.trust), c.refusal);
    if (!c.made.empty()) {
      EXPECT_TRUE(fs::is_directory(c.made));
    }
    EXPECT_TRUE(StaysEmpty(etc));
    EXPECT_FALSE(fs::exists(base / "nowhere"));
  }
}

// A name as long as a name may be (255 bytes) is written, new or over an old
// file: the new file beside it has a short name of its own.
TEST_F(FileGuard, NamesOfTheLongestLengthAreWritten) {
  std::string cyrillic;
  for (int i = 0; i < 127; ++i) cyrillic += "я";
  const std::string names[] = {std::string(249, 'a'), std::string(255, 'b'), cyrillic + "c"};
  int n = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name.size());
    const fs::path folder = Folder("long" + std::to_string(++n), 0755);
    for (const char* content : {"first", "second"}) {
      EXPECT_EQ(Replace(folder / name, comdev::LinkTrust::kAsProtectedSymlinks, content), "");
      EXPECT_EQ(Content(folder / name), content);
      EXPECT_EQ(Entries(folder), std::vector<std::string>{name});
    }
  }
}

// A link planted under the name after the file guard looked is replaced by
// the new file, not written through: what it points to stays as it was.
TEST_F(FileGuard, ALinkPlantedBeforeTheCommitIsReplacedNotFollowed) {
  const fs::path shared = Folder("shared", 01777);
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "over an old file" : "a new file");
    const fs::path tmpDat = shared / "tmp.dat";
    fs::remove(tmpDat);
    if (existed) Write(tmpDat, "old");
    comdev::PendingFilePtr pending;
    ASSERT_EQ(comdev::OpenPendingFile(QString::fromStdString(tmpDat.string()),
                                      comdev::LinkTrust::kNone, pending),
              "");
    fs::remove(tmpDat);
    Link(tmpDat, target, kOtherUser);
    EXPECT_EQ(comdev::CommitPendingFile(*pending, "new"), "");
    EXPECT_FALSE(fs::is_symlink(tmpDat));
    EXPECT_EQ(Content(tmpDat), "new");
    EXPECT_EQ(Content(target), "root's data");
  }
}

}  // namespace
