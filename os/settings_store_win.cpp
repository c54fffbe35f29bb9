// Windows side of the settings store: the registry, through QSettings' native
// format, which writes texts as REG_SZ and 32-bit integers as REG_DWORD.

#include "os/platform.h"

#include <QSettings>
#include <QVariant>

#include <windows.h>

#include <algorithm>
#include <memory>

namespace {

struct RegistryKey {
  HKEY root = nullptr;
  std::wstring path;
};

// The root and key a native store's file name stands for
// ("\HKEY_CURRENT_USER\Software\..."); no root when it names neither.
RegistryKey KeyOf(const QSettings& store) {
  const QString name = store.fileName().mid(store.fileName().startsWith('\\') ? 1 : 0);
  const qsizetype slash = name.indexOf('\\');
  const QString rootName = name.left(slash);
  RegistryKey key;
  if (rootName.compare(QLatin1String("HKEY_CURRENT_USER"), Qt::CaseInsensitive) == 0)
    key.root = HKEY_CURRENT_USER;
  if (rootName.compare(QLatin1String("HKEY_LOCAL_MACHINE"), Qt::CaseInsensitive) == 0)
    key.root = HKEY_LOCAL_MACHINE;
  key.path = name.mid(slash + 1).toStdWString();
  return key;
}

// Whether `key` holds `value` under `name` with the registry type its kind promises.
bool KeyHolds(HKEY key, const QString& name, const QVariant& value) {
  const std::wstring valueName = name.toStdWString();
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> data(size + sizeof(wchar_t));
  if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS)
    return false;
  if (value.typeId() == QMetaType::Int) {
    DWORD number = 0;
    std::copy_n(data.begin(), std::min<size_t>(size, sizeof number),
                reinterpret_cast<BYTE*>(&number));
    return type == REG_DWORD && size == sizeof number &&
           static_cast<qint32>(number) == value.toInt();
  }
  const auto* text = reinterpret_cast<const wchar_t*>(data.data());
  return type == REG_SZ &&
         QString::fromWCharArray(text, static_cast<qsizetype>(wcsnlen(
                                           text, size / sizeof(wchar_t)))) == value.toString();
}

std::unique_ptr<QSettings> OpenSettingsKey(bool machineRoot, const QString& key) {
  const QString root =
      machineRoot ? QStringLiteral("HKEY_LOCAL_MACHINE\\") : QStringLiteral("HKEY_CURRENT_USER\\");
  return std::make_unique<QSettings>(root + key, QSettings::NativeFormat);
}

// Read straight from the registry: QSettings reads a REG_DWORD and a REG_SZ
// holding digits back alike, and the types are part of what is promised.
bool StoreHolds(const QSettings& store, const comdev::SettingsValues& values) {
  const RegistryKey location = KeyOf(store);
  HKEY key = nullptr;
  if (!location.root ||
      ::RegOpenKeyExW(location.root, location.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  const bool holds = std::all_of(values.begin(), values.end(), [&](const auto& named) {
    return KeyHolds(key, named.first, named.second);
  });
  ::RegCloseKey(key);
  return holds;
}

}  // namespace

namespace comdev {

QString WriteSettings(bool machineRoot, const QString& key, const SettingsValues& values) {
  const std::unique_ptr<QSettings> store = OpenSettingsKey(machineRoot, key);
  for (const auto& [name, value] : values) store->setValue(name, value);
  store->sync();
  if (store->status() == QSettings::AccessError)
    return QStringLiteral("The registry refused access to the key");
  if (!StoreHolds(*store, values))
    return QStringLiteral("The registry read back does not hold the values written");
  return {};
}

}  // namespace comdev
