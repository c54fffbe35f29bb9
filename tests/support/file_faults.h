#pragma once
// File-system faults a test can set up for real, as root: a disk that is
// full, and a folder that takes no new file from its user.

#include <QString>
#include <QTemporaryDir>

// A tmpfs of two 4 KB pages on a fresh directory (mode 755, owned by root)
// for the object's lifetime. Mounted() is false where mounting is not
// permitted; the test should then skip.
class TinyDisk {
 public:
  TinyDisk();
  ~TinyDisk();
  TinyDisk(const TinyDisk&) = delete;
  TinyDisk& operator=(const TinyDisk&) = delete;

  bool Mounted() const { return mounted_; }
  QString Path() const { return dir_.path(); }
  QString FilePath(const QString& name) const { return dir_.filePath(name); }
  // Takes all the room that is left: the next write needing a new page fails
  // with "No space left on device".
  void Fill() const;

 private:
  QTemporaryDir dir_;
  bool mounted_ = false;
};

// While it lives, the calling thread meets file permissions as an ordinary
// user (file-system user id 65534) does: root's override is gone. Active() is
// false where the switch is not permitted; the test should then skip.
class AsOrdinaryUser {
 public:
  AsOrdinaryUser();
  ~AsOrdinaryUser();
  AsOrdinaryUser(const AsOrdinaryUser&) = delete;
  AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

  bool Active() const { return active_; }

 private:
  int previous_;
  bool active_;
};
