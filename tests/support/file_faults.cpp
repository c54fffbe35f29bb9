#include "tests/support/file_faults.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/fsuid.h>
#include <sys/mount.h>

namespace {

constexpr int kOrdinaryUser = 65534;

}  // namespace

TinyDisk::TinyDisk() {
  const QByteArray path = dir_.path().toLocal8Bit();
  mounted_ =
      dir_.isValid() && mount("tmpfs", path.constData(), "tmpfs", 0, "size=8k,mode=755") == 0;
}

TinyDisk::~TinyDisk() {
  if (mounted_) umount2(dir_.path().toLocal8Bit().constData(), MNT_DETACH);
}

void TinyDisk::Fill() const {
  QFile filler(FilePath(QStringLiteral("filler")));
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  const QByteArray page(4096, 'x');
  while (filler.write(page) > 0) {
  }
  ASSERT_NE(filler.error(), QFileDevice::NoError);
}

AsOrdinaryUser::AsOrdinaryUser() : previous_(setfsuid(kOrdinaryUser)) {
  // setfsuid answers with the previous id either way; asking again tells.
  active_ = setfsuid(kOrdinaryUser) == kOrdinaryUser;
}

AsOrdinaryUser::~AsOrdinaryUser() { setfsuid(previous_); }
