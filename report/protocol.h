#pragma once
// The service protocol of a change record: one A4 page in Russian that shows
// the adapter, when and who, the parameters before and after with the
// changed ones marked, each channel's 4-20 mA line before (dashed) and after
// (solid), and the outcome. Drawn with Qt's own PDF writer and painter, its
// text as text. Needs a QGuiApplication (fonts); no widgets.

#include <QByteArray>
#include <QString>

struct ChangeEntry;

// The outcome in the protocol's words: "Записано", "Сбой на шаге 5 из 17
// (параметр 4): Нет ответа".
QString OutcomeWords(const ChangeEntry& entry);

// The page as PDF bytes.
QByteArray ServiceProtocolPdf(const ChangeEntry& entry);

// Writes the page to `path`, a file the user names (a link only where the
// kernel would follow it); throws EFileError (modbus/textfile.h).
void SaveServiceProtocol(const ChangeEntry& entry, const QString& path);
