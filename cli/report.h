#pragma once
// What tl8ctl tells: results on stdout (text lines or one JSON object),
// failures on stderr, and a progress line on stderr while a long exchange
// runs, only when stderr is a terminal (a script's log stays clean). All of
// it through the platform's console output, which a Windows console shows
// in any code page.

#include <QJsonObject>
#include <QString>

class Report {
 public:
  explicit Report(bool json);
  ~Report();

  bool Json() const { return json_; }

  // Text mode only: one line of the result.
  void Line(const QString& text);
  // JSON mode only: the result.
  void Object(const QJsonObject& result);
  void Error(const QString& text);
  // One line of the line monitor (--trace), on stderr.
  void Trace(const QString& line);

  // Replaces the progress line; nothing when stderr is not a terminal.
  void Progress(const QString& text);
  void EndProgress();

 private:
  QString RestErased(qsizetype width) const;

  bool json_;
  bool terminal_;
  bool escapes_;  // the terminal erases with "\x1b[K"
  bool progressShown_ = false;
  qsizetype progressWidth_ = 0;  // of the progress line shown
};
