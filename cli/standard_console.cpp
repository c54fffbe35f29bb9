#include "cli/standard_console.h"

#include "serial/platform.h"

void StandardConsole::Out(const QString& text) { WriteStd(StdStream::Output, text); }

void StandardConsole::Err(const QString& text) { WriteStd(StdStream::Error, text); }

bool StandardConsole::ErrIsTerminal() const { return StderrIsTerminal(); }

bool StandardConsole::ErrErasesWithEscapes() const { return StderrErasesWithEscapes(); }
