#include "cli/report.h"

#include "serial/platform.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void Write(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace

Report::Report(bool json) : json_(json), terminal_(StderrIsTerminal()) {}

Report::~Report() { EndProgress(); }

void Report::Line(const QString& text) { Write(stdout, text + '\n'); }

void Report::Object(const QJsonObject& result) {
  Write(stdout, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)) + '\n');
}

void Report::Error(const QString& text) {
  EndProgress();
  Write(stderr, text + '\n');
}

void Report::Trace(const QString& line) {
  EndProgress();  // the next progress line comes back below
  Write(stderr, line + '\n');
}

void Report::Progress(const QString& text) {
  if (!terminal_) return;
  Write(stderr, "\r" + text + "\x1b[K");  // the rest of an older, longer line goes
  progressShown_ = true;
}

void Report::EndProgress() {
  if (!progressShown_) return;
  Write(stderr, QStringLiteral("\r\x1b[K"));
  progressShown_ = false;
}
