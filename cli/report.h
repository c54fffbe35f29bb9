#pragma once
// What tl8ctl tells: results on stdout (text lines or one JSON object),
// failures on stderr, and a progress line on stderr while a long exchange
// runs, only when stderr is a terminal (a script's log stays clean).

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
  bool json_;
  bool terminal_;
  bool progressShown_ = false;
};
