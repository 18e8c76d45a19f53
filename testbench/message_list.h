#pragma once
// Numbers typed by people and the message list file of "Все сообщения".
//
// A list holds two lines a message, in message order: "%.2d;1;%s" with line
// 1 and "%.2d;2;%s" with line 2, blanks at the end removed. Reading pairs the
// lines strictly by position: of the first line of a pair field 1 is the
// number and field 3 line 1, of the second only field 3, line 2.
#include <QString>
#include <QStringList>
#include <cstdint>

namespace mirelo {

// A decimal number with the system's decimal separator, blanks around
// allowed, cut to its integer part; EConvertError for anything else and for
// a value outside minimum..maximum.
int32_t truncatedNumber(const QString& text, int32_t minimum, int32_t maximum);

struct TListMessage {
  int32_t Number = 0;
  QString Line1, Line2;
};

// A message is one byte on the wire.
constexpr int32_t kMaxMessageNumber = 255;

// The two list lines of a message. Characters below 0x20 show as blanks, so
// that a terminal's text can never split a line of the list.
QStringList formatListMessage(int32_t number, const QString& line1, const QString& line2);
// The message of the pair of lines; EConvertError for a number that is not
// one or lies outside 0..255.
TListMessage parseListMessage(const QString& first, const QString& second);

}  // namespace mirelo
