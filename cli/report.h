#pragma once
// What tl8ctl tells: results on standard output (text lines or JSON
// objects), failures on standard error (in JSON mode as an object on standard
// output too, so that a script reading it never meets nothing), and a
// progress line on standard error while a long exchange runs, only when that
// is a terminal (a script's log stays clean). Where the words go is a Console: the program's own
// streams, or a test's strings.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// Standard output and standard error.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const QString& text) = 0;
  virtual void Err(const QString& text) = 0;
  // Whether standard error is a terminal (a person watching).
  virtual bool ErrIsTerminal() const = 0;
  // Whether that terminal takes escape sequences ("\x1b[K" erases the rest
  // of the line), as every terminal but the classic Windows console does.
  virtual bool ErrErasesWithEscapes() const { return ErrIsTerminal(); }
  // Why standard output did not take everything written to it (a full disk,
  // a closed stream), as the system says it; empty when it did.
  virtual QString OutFailure() const { return {}; }
};

class Report {
 public:
  Report(bool json, Console& console);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  bool Json() const { return json_; }

  // Text mode only: one line of the result.
  void Line(const QString& text);
  // JSON mode only: the result.
  void Object(const QJsonObject& result);
  void Array(const QJsonArray& result);
  // A message on stderr: a warning, a note (a port skipped), or a line of a
  // failure; plain text in JSON mode too.
  void Error(const QString& text);
  // The run fails with `text` and exit code `exitCode`: the text on stderr,
  // and in JSON mode {"error": text, "exit": exitCode} on stdout.
  void Failure(const QString& text, int exitCode);
  // One line of the line monitor (--trace), on stderr.
  void Trace(const QString& line);

  // Replaces the progress line; nothing when stderr is not a terminal.
  void Progress(const QString& text);
  void EndProgress();

 private:
  void WriteJson(const QJsonDocument& result);
  QString RestErased(qsizetype width) const;

  bool json_;
  Console& console_;
  bool terminal_;
  bool escapes_;  // the terminal erases with "\x1b[K"
  bool progressShown_ = false;
  qsizetype progressWidth_ = 0;  // of the progress line shown
};
