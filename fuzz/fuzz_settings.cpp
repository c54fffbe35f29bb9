// The settings-file reader on arbitrary bytes. What it accepts holds only
// texts and 32-bit integers, which the writer takes; and what the writer
// makes of them reads back as the same values under the same keys.

#include "fuzz/check.h"
#include "os/platform_unix.h"

#include <QBuffer>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool Read(const QByteArray& bytes, QSettings::SettingsMap& map) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  return comdev::ReadTypedSettings(buffer, map);
}

// The keys the tool's store can hand the writer: QSettings leaves no empty
// segment ("a//b", "/a", "a/"), and the tool's groups are plain names. The
// file writes a group's "/" as a backslash on a "[group]" line of its own,
// so a backslash or a line end in a group could not come back.
bool StoreKey(const QString& key) {
  const QString group = key.left(std::max<qsizetype>(key.lastIndexOf('/'), 0));
  return !key.isEmpty() && !key.startsWith('/') && !key.endsWith('/') && !key.contains("//") &&
         !group.contains('\\') && !group.contains('\n');
}

// The same keys with values of the same type and content.
bool SameSettings(const QSettings::SettingsMap& a, const QSettings::SettingsMap& b) {
  if (a.keys() != b.keys()) return false;
  for (auto it = a.begin(); it != a.end(); ++it) {
    const QVariant& other = b[it.key()];
    if (other.typeId() != it.value().typeId() || other != it.value()) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QSettings::SettingsMap map;
  if (!Read(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), map))
    return 0;
  QSettings::SettingsMap stored;
  for (auto it = map.begin(); it != map.end(); ++it) {
    const int type = it.value().typeId();
    FUZZ_REQUIRE(type == QMetaType::QString || type == QMetaType::Int);
    if (StoreKey(it.key())) stored.insert(it.key(), it.value());
  }

  QBuffer written;
  written.open(QIODevice::WriteOnly);
  FUZZ_REQUIRE(comdev::WriteTypedSettings(written, stored));
  QSettings::SettingsMap reread;
  FUZZ_REQUIRE(Read(written.data(), reread));
  FUZZ_REQUIRE(SameSettings(reread, stored));
  return 0;
}
