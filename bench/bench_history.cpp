// What a change record costs a write: the calibration write (address register
// and 16 parameters) against the adapter simulator on a pseudo-terminal, in
// real time, with and without its record (the entry written and flushed
// before the first frame, completed after the last), rounds interleaved; then
// the record alone (appending and completing an entry, each a whole-file
// replacement with fsync) as the adapter's history grows; and the size of an
// entry. The records go to a fresh folder under the current directory (a
// real disk, not a tmpfs), or to the folder given as the first argument.
//
//   build/bin/bench_history [FOLDER] [--rounds N]

#include "modbus/history.h"
#include "modbus/params.h"
#include "modbus/recorded_write.h"
#include "modbus/session.h"
#include "serial/comport.h"
#include "tests/support/sim_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The calibration image with parameter 2 at `value`, the rest as read.
bool BuildImage(Session& s, double value) {
  ImageTexts texts{{{2, QString::number(value, 'f', 2)}},
                   QStringLiteral("0101001"),
                   QStringLiteral("1"),
                   QDateTime::currentDateTime()};
  return BuildParamImage(texts, s.Params(), s.Exchange());
}

// An entry as a write leaves it, written.
ChangeEntry WrittenEntry(const Session& s) {
  ChangeEntry e;
  const QDateTime now = QDateTime::currentDateTime();
  e.time = now.toOffsetFromUtc(now.offsetFromUtc());
  e.user = CurrentUserName();
  e.frontEnd = QStringLiteral("Технолог.режим");
  e.port = QStringLiteral("/dev/ttyUSB0");
  e.addressBefore = e.addressAfter = 1;
  e.before = *s.LastReading(1);
  e.after = *s.LastReading(1);
  e.serial = e.before->serialNumber;
  e.steps = 17;
  e.outcome = ChangeOutcome::Written;
  return e;
}

qsizetype LineBytes(const ChangeEntry& e) {
  return QJsonDocument(EntryObject(e)).toJson(QJsonDocument::Compact).size() + 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rounds = 5;
  QString folder;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      folder = QString::fromLocal8Bit(argv[i]);
  }
  QTemporaryDir scratch(QDir::current().filePath(QStringLiteral("bench-history-XXXXXX")));
  if (folder.isEmpty()) folder = scratch.path();
  std::printf("records in %s\n", qPrintable(folder));

  tl8test::SimProcess sim;
  TComPort port;
  Session session{port};
  port.SetEvents({});
  port.SetPort(sim.port());
  port.OpenPort();
  session.TalkTo(1);
  ReadPlan fast;
  fast.fast = true;
  if (ReadAdapter(session, fast).result != ReadResult::Read) {
    std::printf("the simulator did not answer the read\n");
    return 1;
  }

  // The write with and without its record, interleaved.
  ChangeHistory history(folder + QStringLiteral("/writes"));
  std::vector<double> plain;
  std::vector<double> recorded;
  bool failed = false;
  for (int round = 0; round < rounds && !failed; ++round) {
    BuildImage(session, 630 + round);
    session.RecordChangesIn(nullptr);
    Clock::time_point start = Clock::now();
    failed |= WriteImage(session, 1).result != WriteResult::Written;
    plain.push_back(MsSince(start));

    BuildImage(session, 640 + round);
    session.RecordChangesIn(&history);
    start = Clock::now();
    const RecordedWriteOutcome outcome =
        WriteImageRecorded(session, {QStringLiteral("bench"), QStringLiteral("Нет ответа")}, 1);
    recorded.push_back(MsSince(start));
    failed |= !outcome.refusal.isEmpty() || outcome.write.result != WriteResult::Written;
  }
  if (failed) {
    std::printf("a write failed\n");
    return 1;
  }
  const double withoutMs = Median(plain);
  const double withMs = Median(recorded);
  std::printf("simulator on %s; %d rounds\n", sim.port().c_str(), rounds);
  std::printf("%-22s %10s %10s\n", "write of 17 steps", "median ms", "best ms");
  std::printf("%-22s %10.1f %10.1f\n", "without record", withoutMs,
              *std::min_element(plain.begin(), plain.end()));
  std::printf("%-22s %10.1f %10.1f\n", "with record", withMs,
              *std::min_element(recorded.begin(), recorded.end()));
  std::printf("the record adds %.1f ms (%+.2f%%)\n", withMs - withoutMs,
              100 * (withMs / withoutMs - 1));

  // The record alone, as the adapter's history grows: each entry rewrites
  // its file whole.
  std::printf("\n%-22s %12s %12s %12s\n", "entries in the file", "file bytes", "append ms",
              "complete ms");
  for (const int kept : {0, 100, 1000, 10000}) {
    const QString dir = folder + QStringLiteral("/grown-%1").arg(kept);
    ChangeHistory grown(dir);
    ChangeEntry entry = WrittenEntry(session);
    QByteArray lines;
    for (int i = 1; i <= kept; ++i) {
      entry.id = QStringLiteral("0101001-%1").arg(i);
      lines += QJsonDocument(EntryObject(entry)).toJson(QJsonDocument::Compact) + '\n';
    }
    QDir().mkpath(dir);
    QFile file(dir + QStringLiteral("/0101001.jsonl"));
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size()) return 1;
    file.close();
    std::vector<double> appends;
    std::vector<double> completes;
    for (int i = 0; i < 9; ++i) {
      ChangeEntry next = WrittenEntry(session);
      next.outcome = ChangeOutcome::Pending;
      Clock::time_point start = Clock::now();
      if (!grown.Append(next).isEmpty()) return 1;
      appends.push_back(MsSince(start));
      next.outcome = ChangeOutcome::Written;
      start = Clock::now();
      if (!grown.Complete(next).isEmpty()) return 1;
      completes.push_back(MsSince(start));
    }
    std::printf("%-22d %12lld %12.2f %12.2f\n", kept, static_cast<long long>(lines.size()),
                Median(appends), Median(completes));
  }

  ChangeEntry written = WrittenEntry(session);
  written.id = QStringLiteral("0101001-12");
  ChangeEntry failedEntry = written;
  failedEntry.outcome = ChangeOutcome::Failed;
  failedEntry.failedStep = 5;
  failedEntry.message = QStringLiteral("Нет ответа");
  ChangeEntry unread = written;
  unread.before.reset();
  std::printf(
      "\nentry size (one JSON line, UTF-8): written %lld bytes, failed at a step %lld, "
      "values before unknown %lld\n",
      static_cast<long long>(LineBytes(written)), static_cast<long long>(LineBytes(failedEntry)),
      static_cast<long long>(LineBytes(unread)));
  return 0;
}
