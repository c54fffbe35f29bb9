#pragma once
// The modal boxes the tool shows: positioned messages, Yes/No questions, the
// standard error report, file dialogs and the tool's own modal dialogs. All of
// them go through one process-wide Boxes object: the tool installs the Qt one,
// tests install a scripted one that records what was shown and answers it.
// Widget-free, so the data logic can ask through it too.

#include <QObject>
#include <QPoint>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

class QDialog;

enum class BoxIcon { None, Information, Warning, Error };

enum class BoxAnswer {
  Yes,
  No,
  Closed,  // Esc or the box's close button
};

class Boxes {
 public:
  virtual ~Boxes() = default;

  // A message with one "OK" button. An empty caption means the application
  // title; no position means centred on the screen.
  virtual void Message(const QString& text, BoxIcon icon = BoxIcon::None,
                       std::optional<QPoint> pos = std::nullopt,
                       const QString& caption = QString()) = 0;

  // A question with the standard "&Yes" and "&No" buttons, captioned with the
  // application title.
  virtual BoxAnswer Question(const QString& text, std::optional<QPoint> pos = std::nullopt) = 0;

  // File dialogs; std::nullopt when the user cancels. `defaultSuffix` is added
  // to a name typed without an extension.
  virtual std::optional<QString> SaveFileName(const QString& proposedName, const QString& filter,
                                              const QString& defaultSuffix) = 0;
  virtual std::optional<QString> OpenFileName(const QString& filter) = 0;

  // Runs one of the tool's own modal dialogs (password, port settings) and
  // returns its result code.
  virtual int Exec(QDialog& dialog) = 0;
};

// The process-wide instance. SetBoxes does not take ownership; nullptr restores
// a built-in instance that shows nothing and answers "No"/cancel.
Boxes& boxes();
void SetBoxes(Boxes* instance);

// The application title: the executable's file name without directory, cut
// before its first ".", first letter kept and the rest in lower case. It is
// the caption of every message box.
QString ApplicationTitleFromPath(const QString& executablePath);
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The standard error report: a modal box with the error icon, the application
// title as caption and the failure's message, with a full stop appended when
// the message's last character sorts after ".".
QString ErrorReportText(const std::exception& failure);
void ReportError(const std::exception& failure);

// Runs an event handler; a failure that escapes it ends the handler and is
// shown by the standard error report. A std::system_error of
// operation_canceled only ends it: the user asked the tool to stop, and it is
// closing, so there is nothing left to tell. Every
// handler of the tool goes through here.
void RunHandler(const std::function<void()>& handler);

// Connects a signal to one of the receiver's event handlers, run through
// RunHandler.
template <typename Sender, typename Signal, typename Receiver>
void ConnectHandler(Sender* sender, Signal signal, Receiver* receiver,
                    void (Receiver::*handler)()) {
  QObject::connect(sender, signal, receiver, [receiver, handler] {
    RunHandler([receiver, handler] { (receiver->*handler)(); });
  });
}
