#pragma once
// Linux details of the OS services behind the platform seam that tests reach
// directly.

#include "os/platform.h"

#include <QIODevice>
#include <QSettings>
#include <QString>

namespace comdev {

// The file and group a settings key is stored in: after an optional leading
// "Software", the first two segments name the file (like organisation and
// application), the rest is the group.
struct SettingsLocation {
  QString file;
  QString group;
};
SettingsLocation SettingsLocationOf(const QString& configDir, const QString& key);

// The settings file's typed text format: quoted texts and 32-bit integers
// ("dword:" and eight hex digits) under "[section]" lines, the keys of the
// map being "section/name" with "/" for the "\" of the section line. Reading
// refuses any other line; writing refuses any other type of value.
bool ReadTypedSettings(QIODevice& device, QSettings::SettingsMap& map);
bool WriteTypedSettings(QIODevice& device, const QSettings::SettingsMap& map);

}  // namespace comdev
