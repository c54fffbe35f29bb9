// Linux side of the settings store: a typed text file per key in the user's
// (or the machine's) config directory.

#include "os/platform.h"
#include "os/platform_unix.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QLibraryInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QVariant>

#include <algorithm>
#include <map>
#include <optional>

namespace {

// --- Settings file ----------------------------------------------------------
// QSettings' INI files read every value back as text; this format keeps the
// text/32-bit-integer distinction the settings store promises:
//   [Comport Settings\ComPort]
//   "Port"="COM1"
//   "Buffer.InputSize"=dword:00000400

QString Quoted(QString text) {
  text.replace('\\', QLatin1String("\\\\"));
  text.replace('"', QLatin1String("\\\""));
  text.replace('\n', QLatin1String("\\n"));
  return '"' + text + '"';
}

// Reads a quoted text starting at `pos`; moves `pos` past it.
std::optional<QString> Unquoted(const QString& line, qsizetype& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  QString text;
  for (++pos; pos < line.size(); ++pos) {
    QChar c = line[pos];
    if (c == '"') {
      ++pos;
      return text;
    }
    if (c == '\\' && ++pos < line.size()) c = line[pos] == 'n' ? QChar('\n') : line[pos];
    text += c;
  }
  return std::nullopt;
}

std::optional<QVariant> ParseValue(const QString& text) {
  if (text.startsWith(QLatin1String("dword:"))) {
    bool ok = false;
    const uint value = text.mid(6).toUInt(&ok, 16);
    return ok ? std::optional<QVariant>(QVariant(static_cast<qint32>(value))) : std::nullopt;
  }
  qsizetype pos = 0;
  const std::optional<QString> quoted = Unquoted(text, pos);
  if (!quoted || pos != text.size()) return std::nullopt;
  return QVariant(*quoted);
}

}  // namespace

namespace comdev {

bool ReadTypedSettings(QIODevice& device, QSettings::SettingsMap& map) {
  QTextStream in(&device);
  QString section;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty()) continue;
    if (line.startsWith('[') && line.endsWith(']')) {
      section = line.mid(1, line.size() - 2).replace('\\', '/');
      continue;
    }
    qsizetype pos = 0;
    const std::optional<QString> name = Unquoted(line, pos);
    if (!name || pos >= line.size() || line[pos] != '=') return false;
    const std::optional<QVariant> value = ParseValue(line.mid(pos + 1));
    if (!value) return false;
    map.insert(section.isEmpty() ? *name : section + '/' + *name, *value);
  }
  return true;
}

bool WriteTypedSettings(QIODevice& device, const QSettings::SettingsMap& map) {
  std::map<QString, QStringList> sections;
  for (auto it = map.begin(); it != map.end(); ++it) {
    const qsizetype slash = it.key().lastIndexOf('/');
    const QVariant& value = it.value();
    QString text;
    if (value.typeId() == QMetaType::QString) {
      text = Quoted(value.toString());
    } else if (value.typeId() == QMetaType::Int) {
      text = QStringLiteral("dword:%1").arg(static_cast<quint32>(value.toInt()), 8, 16, QChar('0'));
    } else {
      return false;  // the store holds only texts and 32-bit integers
    }
    sections[slash < 0 ? QString() : it.key().left(slash)]
        << Quoted(it.key().mid(slash + 1)) + '=' + text;
  }
  QTextStream out(&device);
  for (const auto& [section, lines] : sections) {
    if (!section.isEmpty()) out << '[' << QString(section).replace('/', '\\') << "]\n";
    for (const QString& line : lines) out << line << '\n';
    out << '\n';
  }
  out.flush();
  return out.status() == QTextStream::Ok;
}

namespace {

// What the settings file holds now; nothing when there is no file to read or
// it cannot be parsed: it is rewritten all the same. A link is not read, for
// it will not be written through.
QSettings::SettingsMap StoredValues(const QString& fileName) {
  QSettings::SettingsMap stored;
  const QFileInfo info(fileName);
  QFile file(fileName);
  if (!info.isFile() || info.isSymLink() || !file.open(QIODevice::ReadOnly) ||
      !ReadTypedSettings(file, stored))
    return {};
  return stored;
}

// Whether the file, read from the disk, holds every one of `values` with its
// type under `group`.
bool FileHolds(const QString& fileName, const QString& group, const SettingsValues& values) {
  const QSettings::SettingsMap stored = StoredValues(fileName);
  return std::all_of(values.begin(), values.end(), [&](const auto& named) {
    const QVariant found = stored.value(group + named.first);
    return found.typeId() == named.second.typeId() && found == named.second;
  });
}

}  // namespace

SettingsLocation SettingsLocationOf(const QString& configDir, const QString& key) {
  QStringList segments = key.split('\\', Qt::SkipEmptyParts);
  if (!segments.isEmpty() &&
      segments.front().compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0)
    segments.removeFirst();
  if (segments.isEmpty()) return {};
  const qsizetype fileParts = std::min<qsizetype>(2, segments.size());
  return {configDir + '/' + segments.mid(0, fileParts).join('/') + QLatin1String(".conf"),
          segments.mid(fileParts).join('/')};
}

// The whole file is written anew beside the old one and put in its place,
// never through a link (the file guard): the tool may run as root with a
// config directory another user can write. Its folders are made as the walk
// to the file judges them: a link of one's own there (a dotfiles folder) is
// followed, as the file's own walk would follow it.
QString WriteSettings(bool machineRoot, const QString& key, const SettingsValues& values) {
  const QString configDir =
      machineRoot ? QLibraryInfo::path(QLibraryInfo::SettingsPath)
                  : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (configDir.isEmpty()) return QStringLiteral("The system names no settings folder");
  const SettingsLocation location = SettingsLocationOf(configDir, key);
  if (location.file.isEmpty()) return QStringLiteral("The key names no settings file");
  if (const QString why =
          MakeFolders(QFileInfo(location.file).path(), LinkTrust::kAsProtectedSymlinks);
      !why.isEmpty())
    return why;
  PendingFilePtr file;
  if (const QString why = OpenPendingFile(location.file, LinkTrust::kNone, file); !why.isEmpty())
    return why;
  const QString group = location.group.isEmpty() ? QString() : location.group + '/';
  QSettings::SettingsMap map = StoredValues(location.file);
  for (const auto& [name, value] : values) map.insert(group + name, value);
  QBuffer content;
  if (!content.open(QIODevice::WriteOnly) || !WriteTypedSettings(content, map))
    return QStringLiteral("A value of a type the settings file cannot hold");
  if (const QString why = CommitPendingFile(*file, content.data()); !why.isEmpty()) return why;
  if (!FileHolds(location.file, group, values))
    return QStringLiteral("The settings file read back does not hold the values written");
  return {};
}

}  // namespace comdev
