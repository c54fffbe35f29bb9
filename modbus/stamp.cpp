#include "modbus/stamp.h"

uint32_t MakeStamp(const QDateTime& local) {
  const QDate date = local.date();
  const QTime time = local.time();
  if (date.year() < 1980 || date.year() > 2107) return 0;
  const uint32_t dateWord = (date.year() - 1980) * 512 + date.month() * 32 + date.day();
  const uint32_t timeWord = time.hour() * 2048 + time.minute() * 32 + time.second() / 2;
  return dateWord << 16 | timeWord;
}

QString StampToText(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) {
  const unsigned date = d2 + 256u * d3;
  const unsigned time = d0 + 256u * d1;
  const auto two = [](unsigned n) { return QString::number(n).rightJustified(2, '0'); };
  return two(date & 31) + '/' + two((date >> 5) & 15) + '/' + QString::number((date >> 9) + 1980) +
         '(' + two(time >> 11) + ':' + two((time >> 5) & 63) + ':' + two((time & 31) * 2) + ')';
}
