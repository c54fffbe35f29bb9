#pragma once
// The write-date stamp of parameter 14: the MS-DOS file date-time layout,
// date word high, time word low, stored least significant byte first.

#include <QDateTime>
#include <QString>

#include <cstdint>

// The stamp of a local date and time (milliseconds ignored, seconds halved);
// 0 for a year outside 1980..2107.
uint32_t MakeStamp(const QDateTime& local);

// "dd/mm/yyyy(hh:mm:ss)" of the stamp bytes d0..d3 (d0 least significant).
// Fields are written as they come, without range checks.
QString StampToText(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
