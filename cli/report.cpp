#include "cli/report.h"

#include <QJsonDocument>

Report::Report(bool json, Console& console)
    : json_(json), console_(console), terminal_(console.ErrIsTerminal()) {}

Report::~Report() { EndProgress(); }

void Report::Line(const QString& text) { console_.Out(text + '\n'); }

void Report::Object(const QJsonObject& result) { WriteJson(QJsonDocument(result)); }

void Report::Array(const QJsonArray& result) { WriteJson(QJsonDocument(result)); }

void Report::WriteJson(const QJsonDocument& result) {
  console_.Out(QString::fromUtf8(result.toJson(QJsonDocument::Compact)) + '\n');
}

void Report::Error(const QString& text) {
  EndProgress();
  console_.Err(text + '\n');
}

void Report::Trace(const QString& line) {
  EndProgress();  // the next progress line comes back below
  console_.Err(line + '\n');
}

void Report::Progress(const QString& text) {
  if (!terminal_) return;
  console_.Err("\r" + text + "\x1b[K");  // the rest of an older, longer line goes
  progressShown_ = true;
}

void Report::EndProgress() {
  if (!progressShown_) return;
  console_.Err(QStringLiteral("\r\x1b[K"));
  progressShown_ = false;
}
