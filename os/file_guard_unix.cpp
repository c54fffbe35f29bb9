// Linux side of the file guard. The name is walked one part at a time from
// held folder handles, each link judged before it is followed and again by
// where it led once its target has been walked; missing folders are made in
// the held folder. The new content goes into a file that has no name yet, in
// the folder the walk ended in, which is then linked under a fresh name
// (linkat never replaces an entry) and renamed onto the name. rename replaces a directory entry and
// never follows it: a link planted after the walk is replaced, and its target
// stays untouched. Qt's own QSaveFile reads a link and writes its target,
// which neither the walk nor the kernel's fs.protected_symlinks would see.

#include "os/platform.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

const QString kNotRegularText = QStringLiteral("Not a regular file");
const QString kLinkText = QStringLiteral("Is a symbolic link");
const QString kForeignLinkText =
    QStringLiteral("A symbolic link of another user in a folder others can write");
const QString kUnsafeHopText =
    QStringLiteral("A symbolic link of another user leads to a file or folder of root or of yours");
const QString kDanglingLinkText =
    QStringLiteral("A symbolic link leads to a folder that is not there");

constexpr int kMostLinks = 40;  // links followed in one name, as the kernel allows
constexpr int kNameTries = 100;

QString SystemText(int error) { return qt_error_string(error); }

// A descriptor closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() { Close(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // 0 or the error closing reported (a late write failure on some file systems).
  int Close() { return fd_ >= 0 && close(std::exchange(fd_, -1)) != 0 ? errno : 0; }

 private:
  int fd_;
};

Descriptor OpenFolder(int at, const char* name) {
  return Descriptor(openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The parts of a name, without empty ones and ".".
std::deque<std::string> PartsOf(const std::string& name) {
  std::deque<std::string> parts;
  for (size_t start = 0; start <= name.size();) {
    const size_t slash = std::min(name.find('/', start), name.size());
    std::string part = name.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = slash + 1;
  }
  return parts;
}

// The kernel's rule under fs.protected_symlinks=1 for a link in `folder`.
bool MayFollow(int folder, const struct stat& link) {
  struct stat dir {};
  if (fstat(folder, &dir) != 0) return false;
  const mode_t shared = S_ISVTX | S_IWOTH;
  return link.st_uid == geteuid() || (dir.st_mode & shared) != shared || dir.st_uid == link.st_uid;
}

// A link made by an unprivileged user other than the one running the tool:
// where it leads must not be what that user could not touch himself.
bool Untrusted(const struct stat& link) { return link.st_uid != 0 && link.st_uid != geteuid(); }

// What such a link may not lead to: a file or folder of root or of the
// running user, which the tool would then write for that other user.
bool Guarded(const struct stat& entry) { return entry.st_uid == 0 || entry.st_uid == geteuid(); }

bool ReadLink(int folder, const std::string& name, std::string& target) {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t size = readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
  if (size < 0) return false;
  if (static_cast<size_t>(size) >= buffer.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  target = buffer.substr(0, static_cast<size_t>(size));
  return true;
}

// Where a name leads: its last part, in a held folder (for a folder, the
// folder itself and no name).
struct Place {
  Descriptor folder;
  std::string name;
};

// What the walk is to end at.
enum class Goal {
  kFile,    // a file, or nothing yet, in an existing folder
  kFolder,  // a folder, made part by part where missing
};

// The links whose targets the walk is in, innermost last. A link's target
// has been walked when no more parts are left than were left before it.
class Hops {
 public:
  void Enter(size_t partsLeft, bool untrusted) { hops_.push_back({partsLeft, untrusted}); }
  bool Inside() const { return !hops_.empty(); }
  // Ends the links whose target is the entry just reached; whether one of
  // them was an untrusted user's.
  bool EndAt(size_t partsLeft) {
    bool untrusted = false;
    for (; !hops_.empty() && hops_.back().partsLeft == partsLeft; hops_.pop_back())
      untrusted |= hops_.back().untrusted;
    return untrusted;
  }

 private:
  struct Hop {
    size_t partsLeft;
    bool untrusted;
  };
  std::vector<Hop> hops_;
};

// The part's entry in the folder, made first as a folder when the walk is to
// make folders and it is missing. False with errno when there is none.
bool EntryOf(int folder, const std::string& part, Goal goal, struct stat& entry) {
  if (fstatat(folder, part.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (errno != ENOENT || goal != Goal::kFolder) return false;
  // Made relative to the held folder, never through a link; one made by
  // someone else meanwhile is judged as any entry found.
  if (mkdirat(folder, part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return fstatat(folder, part.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
}

// Walks `path` to the place its last part names, following links as `trust`
// allows, to what `goal` wants. Returns an empty text or why the walk stopped.
QString Walk(const std::string& path, comdev::LinkTrust trust, Goal goal, Place& place) {
  if (path.empty()) return SystemText(ENOENT);
  if (goal == Goal::kFile && path.back() == '/') return kNotRegularText;  // a folder, or nothing
  std::deque<std::string> parts = PartsOf(path);
  Descriptor folder = OpenFolder(AT_FDCWD, path.front() == '/' ? "/" : ".");
  if (!folder.Valid()) return SystemText(errno);
  Hops hops;
  for (int links = 0;;) {
    if (parts.empty() && goal == Goal::kFile) return kNotRegularText;  // the name ends at a folder
    if (parts.empty()) {
      place = {std::move(folder), {}};
      return {};
    }
    std::string part = std::move(parts.front());
    parts.pop_front();
    const bool last = parts.empty();
    struct stat entry {};
    // A link leading nowhere is not followed to make what it names.
    const Goal making = hops.Inside() ? Goal::kFile : goal;
    if (!EntryOf(folder.Get(), part, making, entry)) {
      const int error = errno;
      if (error == ENOENT && goal == Goal::kFolder && hops.Inside()) return kDanglingLinkText;
      if (error != ENOENT || !last || goal == Goal::kFolder) return SystemText(error);
      // A new file: what it is made in is where the links lead.
      struct stat in {};
      if (hops.EndAt(0) && (fstat(folder.Get(), &in) != 0 || Guarded(in))) return kUnsafeHopText;
      place = {std::move(folder), std::move(part)};
      return {};
    }
    if (S_ISLNK(entry.st_mode)) {
      if (last && trust == comdev::LinkTrust::kNone) return kLinkText;
      if (!MayFollow(folder.Get(), entry)) return kForeignLinkText;
      std::string target;
      if (++links > kMostLinks) return SystemText(ELOOP);
      if (!ReadLink(folder.Get(), part, target)) return SystemText(errno);
      if (target.empty()) return SystemText(ENOENT);
      if (target.front() == '/') {
        folder = OpenFolder(AT_FDCWD, "/");
        if (!folder.Valid()) return SystemText(errno);
      }
      const std::deque<std::string> more = PartsOf(target);
      hops.Enter(parts.size(), Untrusted(entry));
      parts.insert(parts.begin(), more.begin(), more.end());
      // A target of no parts ("/", "."): the folder the walk is in.
      if (more.empty() && hops.EndAt(parts.size()) &&
          (fstat(folder.Get(), &entry) != 0 || Guarded(entry)))
        return kUnsafeHopText;
      continue;
    }
    if (last && goal == Goal::kFile) {  // a file, or something else in its place
      if (hops.EndAt(parts.size()) && Guarded(entry)) return kUnsafeHopText;
      place = {std::move(folder), std::move(part)};
      return {};
    }
    Descriptor next = OpenFolder(folder.Get(), part.c_str());
    if (!next.Valid()) return SystemText(errno);
    // Judged by what was opened: the entry may have changed since.
    if (hops.EndAt(parts.size()) && (fstat(next.Get(), &entry) != 0 || Guarded(entry)))
      return kUnsafeHopText;
    folder = std::move(next);
  }
}

std::string FreshName() {
  // A name of its own, not the file's with more letters: the file's name may
  // already be as long as the system allows.
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string fresh = ".tl8-";
  for (int i = 0; i < 8; ++i)
    fresh += kLetters[QRandomGenerator::system()->bounded(static_cast<int>(sizeof kLetters - 1))];
  return fresh;
}

int WriteAll(int fd, const QByteArray& content) {
  for (qsizetype done = 0; done < content.size();) {
    const ssize_t wrote = pwrite(fd, content.constData() + done, content.size() - done, done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return errno;
    if (wrote == 0) return EIO;  // no progress and no reason: never wait for one
    done += wrote;
  }
  return 0;
}

// 0, or what stops the data from being on the disk (a file system without
// the call is no such reason).
int Sync(int fd) { return fsync(fd) != 0 && errno != EINVAL ? errno : 0; }

// The same for the folder a held handle (O_PATH, which cannot be synced) leads to.
int SyncFolder(int folder) {
  const Descriptor readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!readable.Valid()) return errno;
  return Sync(readable.Get());
}

}  // namespace

namespace comdev {

struct PendingFile {
  Place place;
  Descriptor file;
  bool inPlace = false;
  bool unnamed = false;  // made with O_TMPFILE: gets a name only at the commit
  std::string temp;      // the new file's name in the folder, once it has one
};

namespace {

// Drops the new file, if any.
void RemoveNewFile(PendingFile& pending) {
  pending.file = Descriptor();
  if (!pending.temp.empty()) unlinkat(pending.place.folder.Get(), pending.temp.c_str(), 0);
  pending.temp.clear();
}

// Tries fresh names beside the file until `take` takes one. 0 or errno.
template <class Take>
int UnderFreshName(PendingFile& pending, Take take) {
  for (int i = 0; i < kNameTries; ++i) {
    std::string fresh = FreshName();
    if (take(fresh)) {
      pending.temp = std::move(fresh);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// A new file in the folder with the old file's permissions, or those a new
// file gets. Where the file system makes no unnamed file, a named one:
// O_EXCL never opens what is there already, a link included. 0 or errno.
int MakeBeside(PendingFile& pending, const struct stat* old) {
  const int folder = pending.place.folder.Get();
  pending.file = Descriptor(openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  pending.unnamed = pending.file.Valid();
  if (!pending.unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR) return errno;
    if (const int error = UnderFreshName(pending, [&](const std::string& name) {
          pending.file = Descriptor(
              openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
          return pending.file.Valid();
        }))
      return error;
  }
  if (old && fchmod(pending.file.Get(), old->st_mode & 0777) != 0) return errno;
  return 0;
}

// The old file itself, never through a link. Returns an empty text or why not.
QString OpenInPlace(PendingFile& pending) {
  pending.file = Descriptor(openat(pending.place.folder.Get(), pending.place.name.c_str(),
                                   O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!pending.file.Valid()) return errno == ELOOP ? kLinkText : SystemText(errno);
  struct stat opened {};
  if (fstat(pending.file.Get(), &opened) != 0) return SystemText(errno);
  if (!S_ISREG(opened.st_mode)) return kNotRegularText;
  pending.inPlace = true;
  return {};
}

int CommitBeside(PendingFile& pending, const QByteArray& content) {
  const int folder = pending.place.folder.Get();
  const std::string self = "/proc/self/fd/" + std::to_string(pending.file.Get());
  int error = WriteAll(pending.file.Get(), content);
  if (!error) error = Sync(pending.file.Get());
  // linkat, like O_EXCL, never takes a name that is there already.
  if (!error && pending.unnamed)
    error = UnderFreshName(pending, [&](const std::string& name) {
      return linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
  if (!error) error = pending.file.Close();
  if (!error && renameat(folder, pending.temp.c_str(), folder, pending.place.name.c_str()) != 0)
    error = errno;
  if (!error) pending.temp.clear();  // it is the file now
  // The new name itself is on the disk only once its folder is: a power
  // loss right after the rename would otherwise bring the old file back.
  if (!error) error = SyncFolder(folder);
  return error;
}

int CommitInPlace(PendingFile& pending, const QByteArray& content) {
  // Written over the old content, then cut to length: content no longer than
  // the old needs no new room on the disk.
  int error = WriteAll(pending.file.Get(), content);
  if (!error && ftruncate(pending.file.Get(), content.size()) != 0) error = errno;
  if (!error) error = Sync(pending.file.Get());
  const int closing = pending.file.Close();
  return error ? error : closing;
}

}  // namespace

void PendingFileCloser::operator()(PendingFile* file) const {
  RemoveNewFile(*file);
  delete file;
}

QString OpenPendingFile(const QString& path, LinkTrust trust, PendingFilePtr& file) {
  PendingFilePtr pending(new PendingFile);
  if (const QString why =
          Walk(QFile::encodeName(path).toStdString(), trust, Goal::kFile, pending->place);
      !why.isEmpty())
    return why;
  struct stat old {};
  const bool exists = fstatat(pending->place.folder.Get(), pending->place.name.c_str(), &old,
                              AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return SystemText(errno);
  if (exists && S_ISLNK(old.st_mode)) return kLinkText;  // planted since the walk
  if (exists && !S_ISREG(old.st_mode)) return kNotRegularText;
  if (const int besideError = MakeBeside(*pending, exists ? &old : nullptr)) {
    // The folder takes no new file, yet the file itself may be writable. The
    // reason that concerns what the user can change: the file when there is
    // one, otherwise its folder.
    RemoveNewFile(*pending);
    if (!exists) return SystemText(besideError);
    if (const QString why = OpenInPlace(*pending); !why.isEmpty()) return why;
  }
  file = std::move(pending);
  return {};
}

QString MakeFolders(const QString& path, LinkTrust trust) {
  Place place;
  return Walk(QFile::encodeName(path).toStdString(), trust, Goal::kFolder, place);
}

bool WritesInPlace(const PendingFile& file) { return file.inPlace; }

QString CommitPendingFile(PendingFile& file, const QByteArray& content) {
  const int error = file.inPlace ? CommitInPlace(file, content) : CommitBeside(file, content);
  return error ? SystemText(error) : QString();
}

}  // namespace comdev
