#pragma once
// The change records: every write that changes an adapter leaves an entry in
// that adapter's history (who, when, from which window or command, on which
// port, what the adapter held before, what was sent, and how it ended). One
// file per serial number in a folder the front end names, one JSON object a
// line. An entry is put on the disk before the write's first frame and
// completed afterwards, so a write cut short by a power loss still leaves
// the values it replaced.
//
//   ChangeHistory history(DefaultHistoryFolder());
//   ChangeEntry entry = ...;                       // outcome Pending
//   if (const QString why = history.Append(entry); !why.isEmpty()) refuse(why);
//   ...write...
//   entry.outcome = ChangeOutcome::Written;
//   history.Complete(entry);

#include "modbus/service.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

enum class ChangeOutcome {
  Pending,           // recorded, never completed: the write was cut short (power, crash)
  Written,           // every step acknowledged
  Failed,            // at failedStep of steps, with the message the user saw
  ChecksumMismatch,  // the image read before did not check out: nothing was written
};

struct ChangeEntry {
  QString id;  // "<serial>-<n>", given by Append
  QDateTime time;
  QString user;
  QString frontEnd;  // the window or the command
  QString port;
  int addressBefore = 0;  // where the adapter answered, and where it answers afterwards
  int addressAfter = 0;
  std::optional<int32_t> serial;  // the adapter's, as known before the write (else as sent)
  // In read's form (answeringAddress as the address before and after): what
  // the adapter held, as last read; nothing where no reading of it exists.
  std::optional<AdapterReading> before;
  // What was sent (an address change sends the address alone: the values as before).
  std::optional<AdapterReading> after;
  ChangeOutcome outcome = ChangeOutcome::Pending;
  int failedStep = 0;
  int steps = 0;
  QString message;  // what the user was told when it failed
};

// "2026-12-12T14:05:06.123+03:00": local time with its offset, always written
// out; without the milliseconds on request.
QString TimeWithOffset(const QDateTime& time, bool milliseconds = true);

// The values of parameters 1..12 that differ between before and after.
std::vector<int> ChangedValues(const ChangeEntry& entry);

// How it ended, in words: "written", "failed at step 5 of 17: Нет ответа".
QString OutcomeText(const ChangeEntry& entry);

// A reading in read's JSON form: address (parameter 15's copy), serial,
// date and the twelve values as numbers.
QJsonObject ReadingValuesObject(const AdapterReading& reading);

// The entry as tl8ctl history --json prints it and the store keeps it.
QJsonObject EntryObject(const ChangeEntry& entry);
// The entry from its object; nothing when a field is missing or wrong.
std::optional<ChangeEntry> EntryFromObject(const QJsonObject& object);

// The folder both front ends keep the records in: the user's data folder,
// Kavrion/Tl8v05/history beneath it, whichever program asks.
QString DefaultHistoryFolder();
// Who is logged in; under sudo, also who asked for it.
QString CurrentUserName();

// The records kept in one folder. The folder is made on the first entry;
// files are read with a bound and replaced whole through the file guard,
// never written through a link.
class ChangeHistory {
 public:
  explicit ChangeHistory(QString folder, QString user = CurrentUserName());

  const QString& Folder() const { return folder_; }
  const QString& User() const { return user_; }

  // Gives the entry its id and puts it on the disk, flushed. Returns an empty
  // text, or why it could not (then nothing was recorded).
  QString Append(ChangeEntry& entry);
  // Puts the completed entry in place of its first form. Empty text or why not.
  QString Complete(const ChangeEntry& entry);

  struct Listing {
    std::vector<ChangeEntry> entries;  // oldest first
    QStringList notes;                 // damaged lines and files that could not be read
  };
  // Every entry, or those of one serial number (before or after the write).
  Listing Entries(std::optional<int32_t> serial = std::nullopt) const;
  // The entry with `id`; notes as above.
  std::optional<ChangeEntry> Find(const QString& id, QStringList& notes) const;

  // A history file is refused beyond this size; one line beyond the other bound is damaged.
  static constexpr qint64 kLargestFile = 16 * 1024 * 1024;
  static constexpr qsizetype kLongestLine = 64 * 1024;

 private:
  struct FileLines {
    QString path;
    QList<QByteArray> lines;
  };
  QString FilePath(const QString& stem) const;
  // The lines of one file; an empty text or why it could not be read.
  QString ReadFile(const QString& stem, FileLines& file) const;
  QString WriteFile(const FileLines& file) const;
  // The entries of one file's lines, noting the damaged ones.
  std::vector<ChangeEntry> Parse(const FileLines& file, QStringList& notes) const;

  QString folder_;
  QString user_;
};
