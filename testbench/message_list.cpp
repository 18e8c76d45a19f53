#include "testbench/message_list.h"

#include <QLocale>
#include <cmath>

#include "forms/qt_text.h"
#include "platform/exception.h"

namespace mirelo {

namespace {

QString listText(const QString& text) {
  QString shown = text;
  for (QChar& c : shown)
    if (c.unicode() < 0x20) c = QLatin1Char(' ');
  qsizetype end = shown.size();
  while (end > 0 && shown[end - 1] == QLatin1Char(' ')) --end;
  return shown.left(end);
}

QString field(const QString& line, int index) {
  return line.split(QLatin1Char(';')).value(index);
}

}  // namespace

int32_t truncatedNumber(const QString& text, int32_t minimum, int32_t maximum) {
  bool ok = false;
  double value = QLocale::system().toDouble(text.trimmed(), &ok);
  if (!ok)
    throw EConvertError(
        toAnsi(QStringLiteral("'%1' is not a valid floating point value").arg(text)));
  double whole = std::trunc(value);
  if (!(whole >= minimum && whole <= maximum))
    throw EConvertError(toAnsi(
        QStringLiteral("'%1' is not a number from %2 to %3").arg(text).arg(minimum).arg(maximum)));
  return static_cast<int32_t>(whole);
}

QStringList formatListMessage(int32_t number, const QString& line1, const QString& line2) {
  QString prefix = QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
  return {prefix + QStringLiteral(";1;") + listText(line1),
          prefix + QStringLiteral(";2;") + listText(line2)};
}

TListMessage parseListMessage(const QString& first, const QString& second) {
  return {truncatedNumber(field(first, 0), 0, kMaxMessageNumber), field(first, 2),
          field(second, 2)};
}

}  // namespace mirelo
