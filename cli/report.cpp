#include "cli/report.h"

#include "serial/platform.h"

#include <QJsonDocument>

#include <algorithm>

Report::Report(bool json)
    : json_(json),
      terminal_(StderrIsTerminal()),
      escapes_(terminal_ && StderrErasesWithEscapes()) {}

Report::~Report() { EndProgress(); }

void Report::Line(const QString& text) { WriteStd(StdStream::Output, text + '\n'); }

void Report::Object(const QJsonObject& result) {
  WriteStd(StdStream::Output,
           QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)) + '\n');
}

void Report::Error(const QString& text) {
  EndProgress();
  WriteStd(StdStream::Error, text + '\n');
}

void Report::Trace(const QString& line) {
  EndProgress();  // the next progress line comes back below
  WriteStd(StdStream::Error, line + '\n');
}

void Report::Progress(const QString& text) {
  if (!terminal_) return;
  WriteStd(StdStream::Error, '\r' + text + RestErased(text.size()));
  progressWidth_ = text.size();
  progressShown_ = true;
}

void Report::EndProgress() {
  if (!progressShown_) return;
  WriteStd(StdStream::Error, '\r' + RestErased(0) + (escapes_ ? "" : "\r"));
  progressShown_ = false;
  progressWidth_ = 0;
}

// What takes away the rest of an older, longer progress line from column
// `width` on: the escape sequence where the terminal takes it, else blanks.
QString Report::RestErased(qsizetype width) const {
  if (escapes_) return QStringLiteral("\x1b[K");
  return QString(std::max<qsizetype>(progressWidth_ - width, 0), ' ');
}
