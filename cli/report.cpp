#include "cli/report.h"

#include <QJsonDocument>

#include <algorithm>

Report::Report(bool json, Console& console)
    : json_(json),
      console_(console),
      terminal_(console.ErrIsTerminal()),
      escapes_(terminal_ && console.ErrErasesWithEscapes()) {}

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

void Report::Failure(const QString& text, int exitCode) {
  Error(text);
  if (json_) Object({{"error", text}, {"exit", exitCode}});
}

void Report::Trace(const QString& line) {
  EndProgress();  // the next progress line comes back below
  console_.Err(line + '\n');
}

void Report::Progress(const QString& text) {
  if (!terminal_) return;
  console_.Err('\r' + text + RestErased(text.size()));
  progressWidth_ = text.size();
  progressShown_ = true;
}

void Report::EndProgress() {
  if (!progressShown_) return;
  console_.Err('\r' + RestErased(0) + (escapes_ ? "" : "\r"));
  progressShown_ = false;
  progressWidth_ = 0;
}

// What takes away the rest of an older, longer progress line from column
// `width` on: the escape sequence where the terminal takes it, else blanks.
QString Report::RestErased(qsizetype width) const {
  if (escapes_) return QStringLiteral("\x1b[K");
  return QString(std::max<qsizetype>(progressWidth_ - width, 0), ' ');
}
