#include "report/protocol.h"

#include "modbus/history.h"
#include "modbus/number_text.h"
#include "modbus/params.h"
#include "modbus/textfile.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace {

// The page is drawn in points (1/72 inch): A4 is 595 x 842.
constexpr int kPointsPerInch = 72;
constexpr double kPageWidth = 595.3;
constexpr double kMargin = 36;
constexpr double kContentWidth = kPageWidth - 2 * kMargin;

const QColor kInk(0x21, 0x26, 0x2E);
const QColor kMuted(0x6B, 0x72, 0x80);
const QColor kRule(0xD5, 0xDA, 0xE1);
const QColor kBand(0x1F, 0x3A, 0x5F);
const QColor kHeaderFill(0xE8, 0xEE, 0xF5);
const QColor kGroupFill(0xF4, 0xF6, 0xF8);
const QColor kChangedFill(0xFF, 0xF3, 0xD1);
const QColor kChangedMark(0xE0, 0x8E, 0x00);
const QColor kBefore(0x8A, 0x93, 0x9E);
const QColor kAfter(0x15, 0x65, 0xC0);

const QString kUnknown = QStringLiteral("нет данных");

// The channels' rows: the four values of each, as the calibration window names them.
const std::array<QString, 4> kValueNames = {
    QStringLiteral("Значение при токе 20 мА"),
    QStringLiteral("Значение при токе 4 мА"),
    QStringLiteral("Ток без коррекции, код 16 мА"),
    QStringLiteral("Ток без коррекции, код 4 мА"),
};
constexpr int kChannels = 3;
constexpr int kValuesPerChannel = 4;

int ParameterOf(int channel, int row) { return channel * kValuesPerChannel + row + 1; }

bool IsAddressChange(const ChangeEntry& e) { return e.steps <= 2; }

// What a step of the write is.
QString StepName(const ChangeEntry& e, int step) {
  if (IsAddressChange(e))
    return step == 1 ? QStringLiteral("запись адреса") : QStringLiteral("ответ по новому адресу");
  return step == 1 ? QStringLiteral("регистр адреса") : QStringLiteral("параметр %1").arg(step - 1);
}

// The badge's word and colour.
struct Verdict {
  QString word;
  QColor colour;
};
Verdict VerdictOf(const ChangeEntry& e) {
  switch (e.outcome) {
    case ChangeOutcome::Written:
      return {QStringLiteral("ЗАПИСАНО"), QColor(0x2E, 0x7D, 0x32)};
    case ChangeOutcome::Failed:
      return {QStringLiteral("СБОЙ"), QColor(0xC6, 0x28, 0x28)};
    case ChangeOutcome::Pending:
      return {QStringLiteral("НЕ ЗАВЕРШЕНА"), QColor(0xEF, 0x6C, 0x00)};
    case ChangeOutcome::ChecksumMismatch:
      return {QStringLiteral("НЕ ЗАПИСАНО"), QColor(0xAD, 0x14, 0x57)};
  }
  return {};
}

QString SerialText(const std::optional<int32_t>& serial) {
  return serial ? SerialNumberText(*serial) : QStringLiteral("неизвестен");
}

QString TimeText(const QDateTime& time) {
  const int offset = time.offsetFromUtc();
  const QString sign = offset < 0 ? QStringLiteral("−") : QStringLiteral("+");
  return time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) +
         QStringLiteral(" (UTC%1%2)")
             .arg(sign, QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm")));
}

// The difference of two shown values, with the places they are shown with.
QString DifferenceText(int index, const QString& before, const QString& after) {
  const std::optional<double> a = StrictToFloat(before);
  const std::optional<double> b = StrictToFloat(after);
  if (!a || !b) return QStringLiteral("изменено");
  const double difference = *b - *a;
  const QString text = FixedText(std::abs(difference), ParamInfoOf(index).decimals);
  return (difference < 0 ? QStringLiteral("−") : QStringLiteral("+")) + text;
}

// One row of the table: its name and the texts before and after.
struct Row {
  QString name;
  QString before;
  QString after;
  QString change;  // empty when unchanged
};

std::vector<Row> ChannelRows(const ChangeEntry& e, int channel) {
  std::vector<Row> rows;
  for (int row = 0; row < kValuesPerChannel; ++row) {
    const int index = ParameterOf(channel, row);
    Row r{kValueNames[row],
          e.before ? e.before->shown[index - 1] : kUnknown,
          e.after ? e.after->shown[index - 1] : kUnknown,
          {}};
    if (e.before && e.after && r.before != r.after)
      r.change = DifferenceText(index, r.before, r.after);
    rows.push_back(r);
  }
  return rows;
}

std::vector<Row> AdapterRows(const ChangeEntry& e) {
  const auto serial = [](const std::optional<AdapterReading>& r) {
    return r ? SerialNumberText(r->serialNumber) : kUnknown;
  };
  const auto date = [](const std::optional<AdapterReading>& r) {
    return r ? r->writeDate : kUnknown;
  };
  std::vector<Row> rows = {
      {QStringLiteral("Адрес"),
       QString::number(e.addressBefore),
       QString::number(e.addressAfter),
       {}},
      {QStringLiteral("Зав. №"), serial(e.before), serial(e.after), {}},
      {QStringLiteral("Дата записи коэффициентов"), date(e.before), date(e.after), {}},
  };
  for (Row& row : rows)
    if (row.before != kUnknown && row.after != kUnknown && row.before != row.after)
      row.change = QStringLiteral("изменено");
  return rows;
}

// The painter on the page, with the fonts and the few shapes the page is made of.
class Page {
 public:
  explicit Page(QPdfWriter& writer) : painter_(&writer) {
    painter_.setRenderHint(QPainter::Antialiasing);
  }

  QPainter& Painter() { return painter_; }

  void SetFont(double points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setPointSizeF(points);
    font.setBold(bold);
    painter_.setFont(font);
  }

  void Text(const QRectF& box, const QString& text, const QColor& colour, int flags, double points,
            bool bold = false) {
    SetFont(points, bold);
    painter_.setPen(colour);
    painter_.drawText(box, flags | Qt::TextSingleLine, text);
  }

  void Fill(const QRectF& box, const QColor& colour, double radius = 0) {
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(colour);
    if (radius > 0)
      painter_.drawRoundedRect(box, radius, radius);
    else
      painter_.drawRect(box);
    painter_.setBrush(Qt::NoBrush);
  }

  void Line(QPointF from, QPointF to, const QColor& colour, double width = 0.6,
            Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(colour, width, style, Qt::RoundCap);
    if (style == Qt::CustomDashLine) pen.setDashPattern({4, 3});
    painter_.setPen(pen);
    painter_.drawLine(from, to);
  }

 private:
  QPainter painter_;
};

// The band across the top: what the page is, the adapter, and the verdict.
double DrawHeader(Page& page, const ChangeEntry& e) {
  const QRectF band(kMargin, kMargin, kContentWidth, 62);
  page.Fill(band, kBand, 6);
  page.Text(band.adjusted(16, 10, -150, -30), QStringLiteral("Протокол изменения параметров"),
            Qt::white, Qt::AlignLeft | Qt::AlignVCenter, 16, true);
  page.Text(band.adjusted(16, 36, -150, -8),
            QStringLiteral("Адаптер ТЛ-8К  ·  зав. № %1").arg(SerialText(e.serial)),
            QColor(0xDC, 0xE6, 0xF2), Qt::AlignLeft | Qt::AlignVCenter, 11);
  const Verdict verdict = VerdictOf(e);
  const QRectF badge(band.right() - 140, band.top() + 17, 124, 28);
  page.Fill(badge, verdict.colour, 14);
  page.Text(badge, verdict.word, Qt::white, Qt::AlignCenter, 11, true);
  return band.bottom() + 16;
}

// How many of the twelve values the write changes.
QString ChangedText(const ChangeEntry& e) {
  if (!e.before || !e.after) return QStringLiteral("неизвестно");
  return QStringLiteral("%1 из %2 значений").arg(ChangedValues(e).size()).arg(kFloatParamCount);
}

// Two columns of what, when, who and where.
double DrawFacts(Page& page, const ChangeEntry& e, double top) {
  const QString address = e.addressBefore == e.addressAfter
                              ? QString::number(e.addressAfter)
                              : QStringLiteral("%1 → %2").arg(e.addressBefore).arg(e.addressAfter);
  const std::array<std::pair<QString, QString>, 8> facts = {{
      {QStringLiteral("Зав. №"), SerialText(e.serial)},
      {QStringLiteral("Дата и время"), TimeText(e.time)},
      {QStringLiteral("Адрес"), address},
      {QStringLiteral("Пользователь"), e.user},
      {QStringLiteral("Порт"), e.port.isEmpty() ? QStringLiteral("—") : e.port},
      {QStringLiteral("Откуда"), e.frontEnd},
      {QStringLiteral("Запись журнала"), e.id},
      {QStringLiteral("Изменено"), ChangedText(e)},
  }};
  // The right column holds the longer texts (the time with its offset).
  const std::array<double, 2> columns = {kContentWidth * 0.42, kContentWidth * 0.58};
  const double labelWidth = 86;
  const double rowHeight = 17;
  for (size_t i = 0; i < facts.size(); ++i) {
    const double x = kMargin + (i % 2) * columns[0];
    const double y = top + (i / 2) * rowHeight;
    page.Text(QRectF(x, y, labelWidth, rowHeight), facts[i].first, kMuted,
              Qt::AlignLeft | Qt::AlignVCenter, 9);
    page.Text(QRectF(x + labelWidth, y, columns[i % 2] - labelWidth - 8, rowHeight),
              facts[i].second, kInk, Qt::AlignLeft | Qt::AlignVCenter, 10, true);
  }
  const double bottom = top + 4 * rowHeight + 8;
  page.Line({kMargin, bottom}, {kMargin + kContentWidth, bottom}, kRule);
  return bottom + 10;
}

// The outcome in a sentence, in the verdict's colour.
double DrawOutcome(Page& page, const ChangeEntry& e, double top) {
  const QRectF box(kMargin, top, kContentWidth, 24);
  const Verdict verdict = VerdictOf(e);
  // The verdict's colour, a tenth of it on white.
  const QColor tint =
      QColor::fromRgbF(0.9 + 0.1 * verdict.colour.redF(), 0.9 + 0.1 * verdict.colour.greenF(),
                       0.9 + 0.1 * verdict.colour.blueF());
  page.Fill(box, tint, 4);
  page.Fill(QRectF(box.left(), box.top(), 4, box.height()), verdict.colour);
  page.Text(box.adjusted(12, 0, -8, 0), QStringLiteral("Итог: ") + OutcomeWords(e), kInk,
            Qt::AlignLeft | Qt::AlignVCenter, 10, true);
  return box.bottom() + 14;
}

// The table: each channel's four values, then the adapter's own, before,
// after and the change; changed rows tinted and marked.
double DrawTable(Page& page, const ChangeEntry& e, double top) {
  const double rowHeight = 15.5;
  const std::array<double, 4> widths = {kContentWidth * 0.34, kContentWidth * 0.24,
                                        kContentWidth * 0.24, kContentWidth * 0.18};
  const auto cells = [&](double y) {
    std::array<QRectF, 4> boxes;
    double x = kMargin;
    for (size_t i = 0; i < widths.size(); ++i) {
      boxes[i] = QRectF(x + 8, y, widths[i] - 16, rowHeight);
      x += widths[i];
    }
    return boxes;
  };
  const auto rightAligned = Qt::AlignRight | Qt::AlignVCenter;

  double y = top;
  page.Fill(QRectF(kMargin, y, kContentWidth, rowHeight + 2), kHeaderFill, 3);
  const std::array<QString, 4> titles = {QStringLiteral("Параметр"), QStringLiteral("До"),
                                         QStringLiteral("После"), QStringLiteral("Изменение")};
  const auto header = cells(y + 1);
  for (size_t i = 0; i < titles.size(); ++i)
    page.Text(header[i], titles[i], kInk, i == 0 ? Qt::AlignLeft | Qt::AlignVCenter : rightAligned,
              9, true);
  y += rowHeight + 4;

  const auto group = [&](const QString& title) {
    page.Fill(QRectF(kMargin, y, kContentWidth, rowHeight), kGroupFill);
    page.Text(cells(y)[0], title, kBand, Qt::AlignLeft | Qt::AlignVCenter, 9, true);
    y += rowHeight;
  };
  const auto row = [&](const Row& r) {
    const bool changed = !r.change.isEmpty();
    if (changed) {
      page.Fill(QRectF(kMargin, y, kContentWidth, rowHeight), kChangedFill);
      page.Fill(QRectF(kMargin, y, 3, rowHeight), kChangedMark);
    }
    const auto c = cells(y);
    page.Text(c[0].adjusted(8, 0, 0, 0), r.name, kInk, Qt::AlignLeft | Qt::AlignVCenter, 9);
    page.Text(c[1], r.before, changed ? kMuted : kInk, rightAligned, 9);
    page.Text(c[2], r.after, kInk, rightAligned, 9, changed);
    page.Text(c[3], changed ? r.change : QStringLiteral("—"), changed ? kChangedMark : kRule,
              rightAligned, 9, changed);
    y += rowHeight;
    page.Line({kMargin, y}, {kMargin + kContentWidth, y}, kRule, 0.4);
  };

  for (int channel = 0; channel < kChannels; ++channel) {
    group(QStringLiteral("Канал %1").arg(channel + 1));
    for (const Row& r : ChannelRows(e, channel)) row(r);
  }
  group(QStringLiteral("Адаптер"));
  for (const Row& r : AdapterRows(e)) row(r);
  return y + 16;
}

// A channel's line from 4 to 20 mA: the values at 4 and at 20 mA.
struct ChannelLine {
  double at4;
  double at20;
};
std::optional<ChannelLine> LineOf(const std::optional<AdapterReading>& r, int channel) {
  if (!r) return std::nullopt;
  const auto at20 = StrictToFloat(r->shown[ParameterOf(channel, 0) - 1]);
  const auto at4 = StrictToFloat(r->shown[ParameterOf(channel, 1) - 1]);
  if (!at4 || !at20 || !std::isfinite(*at4) || !std::isfinite(*at20)) return std::nullopt;
  return ChannelLine{*at4, *at20};
}

// Tick values for an axis from `low` to `high`: about four, at a round step.
std::vector<double> Ticks(double low, double high) {
  const double raw = (high - low) / 4;
  const double magnitude = std::pow(10, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (magnitude * factor >= raw) {
      step = magnitude * factor;
      break;
    }
  std::vector<double> ticks;
  for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step)
    ticks.push_back(std::abs(t) < step * 1e-9 ? 0 : t);
  return ticks;
}

QString TickText(double value) { return QString::number(value, 'g', 6); }

// One channel's plot: value against current, before dashed, after solid.
void DrawPlot(Page& page, const ChangeEntry& e, int channel, const QRectF& box) {
  page.Text(QRectF(box.left(), box.top(), box.width(), 14),
            QStringLiteral("Канал %1: значение от тока").arg(channel + 1), kInk,
            Qt::AlignLeft | Qt::AlignVCenter, 9, true);
  const QRectF area = box.adjusted(34, 22, -6, -24);
  const std::optional<ChannelLine> before = LineOf(e.before, channel);
  const std::optional<ChannelLine> after = LineOf(e.after, channel);
  page.Fill(area, QColor(0xFA, 0xFB, 0xFC));
  if (!before && !after) {
    page.Text(area, kUnknown, kMuted, Qt::AlignCenter, 9);
    return;
  }
  double low = std::numeric_limits<double>::max();
  double high = std::numeric_limits<double>::lowest();
  for (const auto& line : {before, after})
    if (line) {
      low = std::min({low, line->at4, line->at20});
      high = std::max({high, line->at4, line->at20});
    }
  const double pad = high > low ? (high - low) * 0.12 : std::max(1.0, std::abs(high) * 0.1);
  low -= pad;
  high += pad;
  const auto at = [&](double current, double value) {
    return QPointF(area.left() + (current - 4) / 16 * area.width(),
                   area.bottom() - (value - low) / (high - low) * area.height());
  };

  for (double tick : Ticks(low, high)) {
    const QPointF left = at(4, tick);
    page.Line(left, {area.right(), left.y()}, kRule, 0.4);
    page.Text(QRectF(box.left(), left.y() - 6, 30, 12), TickText(tick), kMuted,
              Qt::AlignRight | Qt::AlignVCenter, 6.5);
  }
  for (int current : {4, 8, 12, 16, 20}) {
    const QPointF foot = at(current, low);
    page.Line(foot, {foot.x(), area.top()}, kRule, 0.4);
    page.Text(QRectF(foot.x() - 12, area.bottom() + 2, 24, 10), QString::number(current), kMuted,
              Qt::AlignCenter, 6.5);
  }
  page.Text(QRectF(area.left(), area.bottom() + 11, area.width(), 10), QStringLiteral("ток, мА"),
            kMuted, Qt::AlignCenter, 6.5);
  page.Painter().setPen(QPen(kRule, 0.8));
  page.Painter().drawRect(area);

  const auto draw = [&](const ChannelLine& line, const QColor& colour, Qt::PenStyle style,
                        double width) {
    page.Line(at(4, line.at4), at(20, line.at20), colour, width, style);
    page.Painter().setPen(Qt::NoPen);
    page.Painter().setBrush(colour);
    for (const QPointF& end : {at(4, line.at4), at(20, line.at20)})
      page.Painter().drawEllipse(end, 1.8, 1.8);
    page.Painter().setBrush(Qt::NoBrush);
  };
  // The dashes on top, so that a line that barely moved still shows both.
  if (after) draw(*after, kAfter, Qt::SolidLine, 1.6);
  if (before) draw(*before, kBefore, Qt::CustomDashLine, 1.2);
}

double DrawPlots(Page& page, const ChangeEntry& e, double top) {
  const double gap = 14;
  const double width = (kContentWidth - 2 * gap) / kChannels;
  const double height = 150;
  for (int channel = 0; channel < kChannels; ++channel)
    DrawPlot(page, e, channel, QRectF(kMargin + channel * (width + gap), top, width, height));
  // The legend, once for all three.
  const double y = top + height + 4;
  page.Line({kMargin, y + 6}, {kMargin + 26, y + 6}, kBefore, 1.2, Qt::CustomDashLine);
  page.Text(QRectF(kMargin + 32, y, 120, 12), QStringLiteral("до записи"), kMuted,
            Qt::AlignLeft | Qt::AlignVCenter, 8);
  page.Line({kMargin + 110, y + 6}, {kMargin + 136, y + 6}, kAfter, 1.6);
  page.Text(QRectF(kMargin + 142, y, 200, 12), QStringLiteral("после записи (отправлено)"), kMuted,
            Qt::AlignLeft | Qt::AlignVCenter, 8);
  return y + 24;
}

// Where the engineer signs, and where the page came from.
void DrawFooter(Page& page, const ChangeEntry& e, double top) {
  const double y = std::max(top, 770.0);
  const double half = kContentWidth / 2;
  for (int i = 0; i < 2; ++i) {
    const double x = kMargin + i * half;
    page.Line({x, y + 18}, {x + half - 24, y + 18}, kInk, 0.5);
    page.Text(QRectF(x, y + 20, half - 24, 12),
              i == 0 ? QStringLiteral("Инженер (Ф. И. О.)") : QStringLiteral("Подпись, дата"),
              kMuted, Qt::AlignLeft | Qt::AlignVCenter, 7.5);
  }
  page.Text(
      QRectF(kMargin, y + 40, kContentWidth, 12),
      QStringLiteral("Сформировано по записи %1 журнала изменений · %2")
          .arg(e.id, QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))),
      kMuted, Qt::AlignLeft | Qt::AlignVCenter, 7);
}

}  // namespace

QString OutcomeWords(const ChangeEntry& e) {
  switch (e.outcome) {
    case ChangeOutcome::Written:
      return IsAddressChange(e) ? QStringLiteral("адрес записан")
                                : QStringLiteral("записано полностью, %1 шагов из %1").arg(e.steps);
    case ChangeOutcome::Failed:
      return QStringLiteral("сбой на шаге %1 из %2 (%3): %4")
          .arg(e.failedStep)
          .arg(e.steps)
          .arg(StepName(e, e.failedStep), e.message);
    case ChangeOutcome::Pending:
      return QStringLiteral("запись прервана и не завершена; значения «до» сохранены");
    case ChangeOutcome::ChecksumMismatch:
      return QStringLiteral("%1 при чтении перед записью, запись не выполнялась").arg(e.message);
  }
  return {};
}

QByteArray ServiceProtocolPdf(const ChangeEntry& entry) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    writer.setResolution(kPointsPerInch);
    writer.setTitle(QStringLiteral("Протокол изменения параметров ТЛ-8К, зав. № %1, %2")
                        .arg(SerialText(entry.serial), entry.id));
    writer.setCreator(QStringLiteral("Tl8v05"));
    Page page(writer);
    double y = DrawHeader(page, entry);
    y = DrawFacts(page, entry, y);
    y = DrawOutcome(page, entry, y);
    y = DrawTable(page, entry, y);
    y = DrawPlots(page, entry, y);
    DrawFooter(page, entry, y);
  }
  return buffer.data();
}

void SaveServiceProtocol(const ChangeEntry& entry, const QString& path) {
  FileReplacement file(path, QStringLiteral("save"), NamedBy::kUser);
  file.Append(ServiceProtocolPdf(entry));
  file.Commit();
}
