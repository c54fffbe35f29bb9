#include "modbus/history.h"

#include "modbus/number_text.h"
#include "modbus/params.h"
#include "os/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>

namespace {

const QString kSuffix = QStringLiteral(".jsonl");
const QString kUnknownStem = QStringLiteral("unknown");

const struct {
  ChangeOutcome outcome;
  const char* name;
} kOutcomeNames[] = {
    {ChangeOutcome::Pending, "pending"},
    {ChangeOutcome::Written, "written"},
    {ChangeOutcome::Failed, "failed"},
    {ChangeOutcome::ChecksumMismatch, "checksum mismatch"},
};

QString OutcomeName(ChangeOutcome outcome) {
  for (const auto& known : kOutcomeNames)
    if (known.outcome == outcome) return QString::fromLatin1(known.name);
  return {};
}

std::optional<ChangeOutcome> OutcomeNamed(const QString& name) {
  for (const auto& known : kOutcomeNames)
    if (name == QLatin1String(known.name)) return known.outcome;
  return std::nullopt;
}

// The file an entry goes to: its serial number, or "unknown".
QString StemOf(const std::optional<int32_t>& serial) {
  return serial ? SerialNumberText(*serial) : kUnknownStem;
}

// An id names its file: "<stem>-<n>". Anything else names no file, so no
// id can lead out of the folder.
struct ParsedId {
  QString stem;
  int number = 0;
};
std::optional<ParsedId> ParseId(const QString& id) {
  static const QRegularExpression kId(QStringLiteral("^(unknown|[0-9-]{1,12})-([1-9][0-9]{0,8})$"));
  const QRegularExpressionMatch match = kId.match(id);
  if (!match.hasMatch()) return std::nullopt;
  return ParsedId{match.captured(1), match.captured(2).toInt()};
}

// The id a line of the store holds, found as the store writes it (compact
// JSON, no other key named "id"); empty when there is none such.
QString IdIn(const QByteArray& line) {
  static const QByteArray kKey = QByteArrayLiteral("\"id\":\"");
  const qsizetype start = line.indexOf(kKey);
  if (start < 0) return {};
  const qsizetype from = start + kKey.size();
  const qsizetype end = line.indexOf('"', from);
  if (end < 0 || end - from > 32) return {};
  return QString::fromLatin1(line.mid(from, end - from));
}

QJsonValue OptionalInt(const std::optional<int32_t>& value) {
  return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue OptionalReading(const std::optional<AdapterReading>& reading) {
  return reading ? QJsonValue(ReadingValuesObject(*reading)) : QJsonValue(QJsonValue::Null);
}

QJsonObject OutcomeObject(const ChangeEntry& e) {
  QJsonObject outcome{{"result", OutcomeName(e.outcome)}, {"steps", e.steps}};
  if (e.outcome == ChangeOutcome::Failed) outcome["step"] = e.failedStep;
  if (!e.message.isEmpty()) outcome["message"] = e.message;
  return outcome;
}

bool IsInt(const QJsonValue& value) {
  return value.isDouble() && value.toDouble() == static_cast<double>(value.toInt());
}

// A reading from read's form; the answering address is the caller's.
std::optional<AdapterReading> ReadingFromObject(const QJsonObject& object, int answeringAddress) {
  const QJsonArray values = object.value("values").toArray();
  if (!IsInt(object.value("address")) || !IsInt(object.value("serial")) ||
      !object.value("date").isString() || values.size() != kFloatParamCount)
    return std::nullopt;
  AdapterReading reading;
  reading.answeringAddress = answeringAddress;
  reading.storedAddress = object.value("address").toInt();
  reading.serialNumber = object.value("serial").toInt();
  reading.writeDate = object.value("date").toString();
  for (int i = 1; i <= kFloatParamCount; ++i) {
    if (!values[i - 1].isDouble()) return std::nullopt;
    reading.shown[i - 1] = FixedText(values[i - 1].toDouble(), ParamInfoOf(i).decimals);
  }
  return reading;
}

// Null, or a reading in read's form; false when it is neither.
bool OptionalReadingFrom(const QJsonValue& value, int answeringAddress,
                         std::optional<AdapterReading>& reading) {
  if (value.isNull()) return true;
  reading = ReadingFromObject(value.toObject(), answeringAddress);
  return reading.has_value();
}

bool OutcomeFrom(const QJsonObject& outcome, ChangeEntry& e) {
  const std::optional<ChangeOutcome> result = OutcomeNamed(outcome.value("result").toString());
  if (!result) return false;
  e.outcome = *result;
  e.message = outcome.value("message").toString();
  e.steps = outcome.value("steps").toInt();
  if (e.steps < 1) return false;
  if (e.outcome != ChangeOutcome::Failed) return true;
  e.failedStep = outcome.value("step").toInt();
  return e.failedStep >= 1 && e.failedStep <= e.steps;
}

// --- The two places the store touches the file system's writing side ----------

// Makes the folder the records go to, and those above it.
// Made as the folders of the tool's own files are: never through a link
// another user planted on the way.
QString MakeStoreFolder(const QString& folder) {
  const QString why = comdev::MakeFolders(folder, comdev::LinkTrust::kAsProtectedSymlinks);
  return why.isEmpty() ? why : QStringLiteral("Cannot make the folder \"%1\": %2").arg(folder, why);
}

// Replaces the file whole, flushed to the disk, never through a link.
QString ReplaceStoreFile(const QString& path, const QByteArray& bytes) {
  comdev::PendingFilePtr file;
  QString why = comdev::OpenPendingFile(path, comdev::LinkTrust::kNone, file);
  if (why.isEmpty()) why = comdev::CommitPendingFile(*file, bytes);
  return why.isEmpty() ? why : QStringLiteral("Cannot write \"%1\": %2").arg(path, why);
}

}  // namespace

QString TimeWithOffset(const QDateTime& time, bool milliseconds) {
  // Qt writes an offset of 0 as "Z"; the records always say the offset.
  const int offset = time.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  const QString format = milliseconds ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                      : QStringLiteral("yyyy-MM-ddTHH:mm:ss");
  return time.toString(format) + (offset < 0 ? '-' : '+') +
         QStringLiteral("%1:%2")
             .arg(minutes / 60, 2, 10, QChar('0'))
             .arg(minutes % 60, 2, 10, QChar('0'));
}

std::vector<int> ChangedValues(const ChangeEntry& e) {
  std::vector<int> changed;
  if (!e.before || !e.after) return changed;
  for (int i = 1; i <= kFloatParamCount; ++i)
    if (e.before->shown[i - 1] != e.after->shown[i - 1]) changed.push_back(i);
  return changed;
}

QString OutcomeText(const ChangeEntry& e) {
  switch (e.outcome) {
    case ChangeOutcome::Pending:
      return QStringLiteral("not completed (cut short)");
    case ChangeOutcome::Written:
      return QStringLiteral("written");
    case ChangeOutcome::Failed:
      return QStringLiteral("failed at step %1 of %2: %3")
          .arg(e.failedStep)
          .arg(e.steps)
          .arg(e.message);
    case ChangeOutcome::ChecksumMismatch:
      return QStringLiteral("checksum mismatch, nothing written");
  }
  return {};
}

QJsonObject ReadingValuesObject(const AdapterReading& reading) {
  QJsonArray values;
  for (const QString& text : reading.shown) values.append(StrictToFloat(text).value_or(0));
  return {{"address", reading.storedAddress},
          {"serial", reading.serialNumber},
          {"date", reading.writeDate},
          {"values", values}};
}

QJsonObject EntryObject(const ChangeEntry& e) {
  return {{"id", e.id},
          {"time", TimeWithOffset(e.time)},
          {"user", e.user},
          {"front_end", e.frontEnd},
          {"port", e.port},
          {"serial", OptionalInt(e.serial)},
          {"address_before", e.addressBefore},
          {"address_after", e.addressAfter},
          {"outcome", OutcomeObject(e)},
          {"before", OptionalReading(e.before)},
          {"after", OptionalReading(e.after)}};
}

std::optional<ChangeEntry> EntryFromObject(const QJsonObject& o) {
  ChangeEntry e;
  e.id = o.value("id").toString();
  e.time = QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs);
  e.user = o.value("user").toString();
  e.frontEnd = o.value("front_end").toString();
  e.port = o.value("port").toString();
  if (!ParseId(e.id) || !e.time.isValid() || !IsInt(o.value("address_before")) ||
      !IsInt(o.value("address_after")))
    return std::nullopt;
  e.addressBefore = o.value("address_before").toInt();
  e.addressAfter = o.value("address_after").toInt();
  if (IsInt(o.value("serial")))
    e.serial = o.value("serial").toInt();
  else if (!o.value("serial").isNull())
    return std::nullopt;
  if (!OutcomeFrom(o.value("outcome").toObject(), e) ||
      !OptionalReadingFrom(o.value("before"), e.addressBefore, e.before) ||
      !OptionalReadingFrom(o.value("after"), e.addressAfter, e.after))
    return std::nullopt;
  return e;
}

QString DefaultHistoryFolder() {
  // Fixed beneath the user's data folder: the data location of each program
  // would carry that program's own name.
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Kavrion/Tl8v05/history");
}

QString CurrentUserName() {
  QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
  if (user.isEmpty()) user = qEnvironmentVariable("LOGNAME");
  if (user.isEmpty()) user = QDir::home().dirName();  // a service started without a login
  const QString asking = qEnvironmentVariable("SUDO_USER");
  if (!asking.isEmpty() && asking != user) user += QStringLiteral(" (sudo: %1)").arg(asking);
  return user.isEmpty() ? QStringLiteral("?") : user;
}

ChangeHistory::ChangeHistory(QString folder, QString user)
    : folder_(std::move(folder)), user_(std::move(user)) {}

QString ChangeHistory::FilePath(const QString& stem) const {
  return folder_ + '/' + stem + kSuffix;
}

QString ChangeHistory::ReadFile(const QString& stem, FileLines& file) const {
  file.path = FilePath(stem);
  file.lines.clear();
  const QFileInfo info(file.path);
  // A link, a FIFO or a device in the file's place is never read: it could
  // lead anywhere, block for good or never end.
  const auto refused = [&file](const QString& why) {
    return QStringLiteral("Cannot read \"%1\": %2").arg(file.path, why);
  };
  if (info.isSymLink()) return refused(QStringLiteral("Is a symbolic link"));
  if (!info.exists()) return {};
  if (!info.isFile()) return refused(QStringLiteral("Not a regular file"));
  if (info.size() > kLargestFile)
    return refused(QStringLiteral("Larger than %1 bytes").arg(kLargestFile));
  QFile in(file.path);
  if (!in.open(QIODevice::ReadOnly)) return refused(in.errorString());
  const QByteArray bytes = in.read(kLargestFile + 1);  // the size may have changed since
  if (in.error() != QFileDevice::NoError) return refused(in.errorString());
  if (bytes.size() > kLargestFile)
    return refused(QStringLiteral("Larger than %1 bytes").arg(kLargestFile));
  file.lines = bytes.split('\n');
  if (!file.lines.isEmpty() && file.lines.last().isEmpty()) file.lines.removeLast();
  return {};
}

QString ChangeHistory::WriteFile(const FileLines& file) const {
  if (const QString why = MakeStoreFolder(folder_); !why.isEmpty()) return why;
  QByteArray bytes;
  for (const QByteArray& line : file.lines) bytes += line + '\n';
  return ReplaceStoreFile(file.path, bytes);
}

std::vector<ChangeEntry> ChangeHistory::Parse(const FileLines& file, QStringList& notes) const {
  std::vector<ChangeEntry> entries;
  for (qsizetype i = 0; i < file.lines.size(); ++i) {
    const QByteArray& line = file.lines[i];
    if (line.trimmed().isEmpty()) continue;
    std::optional<ChangeEntry> entry;
    if (line.size() <= kLongestLine) {
      const QJsonDocument document = QJsonDocument::fromJson(line);
      if (document.isObject()) entry = EntryFromObject(document.object());
    }
    if (entry)
      entries.push_back(std::move(*entry));
    else
      notes << QStringLiteral("%1: line %2 is damaged, skipped").arg(file.path).arg(i + 1);
  }
  return entries;
}

QString ChangeHistory::Append(ChangeEntry& entry) {
  const QString stem = StemOf(entry.serial);
  FileLines file;
  if (const QString why = ReadFile(stem, file); !why.isEmpty()) return why;
  // Past every number in the file, damaged lines counted too: an id is never
  // given twice. The ids are found without parsing the lines whole.
  int last = static_cast<int>(file.lines.size());
  for (const QByteArray& line : file.lines)
    if (const auto id = ParseId(IdIn(line)); id && id->stem == stem)
      last = std::max(last, id->number);
  entry.id = QStringLiteral("%1-%2").arg(stem).arg(last + 1);
  file.lines << QJsonDocument(EntryObject(entry)).toJson(QJsonDocument::Compact);
  return WriteFile(file);
}

QString ChangeHistory::Complete(const ChangeEntry& entry) {
  const std::optional<ParsedId> id = ParseId(entry.id);
  if (!id) return QStringLiteral("No entry %1").arg(entry.id);
  FileLines file;
  if (const QString why = ReadFile(id->stem, file); !why.isEmpty()) return why;
  const QByteArray line = QJsonDocument(EntryObject(entry)).toJson(QJsonDocument::Compact);
  // The line to replace is the last one with this id; damaged lines stay as they are.
  for (qsizetype i = file.lines.size() - 1; i >= 0; --i) {
    if (IdIn(file.lines[i]) == entry.id) {
      file.lines[i] = line;
      return WriteFile(file);
    }
  }
  file.lines << line;  // its first form is gone: the completed one stands alone
  return WriteFile(file);
}

ChangeHistory::Listing ChangeHistory::Entries(std::optional<int32_t> serial) const {
  Listing listing;
  const QStringList names = QDir(folder_).entryList({QStringLiteral("*") + kSuffix},
                                                    QDir::Files | QDir::System, QDir::Name);
  for (const QString& name : names) {
    FileLines file;
    if (const QString why = ReadFile(name.chopped(kSuffix.size()), file); !why.isEmpty()) {
      listing.notes << why;
      continue;
    }
    for (ChangeEntry& entry : Parse(file, listing.notes)) {
      const auto of = [&serial](const std::optional<AdapterReading>& reading) {
        return reading && reading->serialNumber == *serial;
      };
      if (!serial || entry.serial == serial || of(entry.before) || of(entry.after))
        listing.entries.push_back(std::move(entry));
    }
  }
  std::stable_sort(listing.entries.begin(), listing.entries.end(),
                   [](const ChangeEntry& a, const ChangeEntry& b) { return a.time < b.time; });
  return listing;
}

std::optional<ChangeEntry> ChangeHistory::Find(const QString& id, QStringList& notes) const {
  const std::optional<ParsedId> parsed = ParseId(id);
  if (!parsed) return std::nullopt;
  FileLines file;
  if (const QString why = ReadFile(parsed->stem, file); !why.isEmpty()) {
    notes << why;
    return std::nullopt;
  }
  for (ChangeEntry& entry : Parse(file, notes))
    if (entry.id == id) return std::move(entry);
  return std::nullopt;
}
