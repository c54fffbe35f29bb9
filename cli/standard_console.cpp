#include "cli/standard_console.h"

#include "os/platform.h"

void StandardConsole::Out(const QString& text) {
  const int error = WriteStd(StdStream::Output, text);
  if (error != 0 && outFailure_.isEmpty()) outFailure_ = StdErrorText(error);
}

void StandardConsole::Err(const QString& text) { WriteStd(StdStream::Error, text); }

bool StandardConsole::ErrIsTerminal() const { return StderrIsTerminal(); }

bool StandardConsole::ErrErasesWithEscapes() const { return StderrErasesWithEscapes(); }
