#include <gtest/gtest.h>

#include "driver/errors/driver_error.h"
#include "driver/errors/wsa_error.h"
#include "outcome.h"
#include "platform/format.h"

namespace mirelo {
namespace {

using test::outcome;

TEST(ErrorTexts, HostsSeeTheseCodesAndTexts) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    int32_t code;
    std::string text;
  } cases[] = {
      {"10057", [] { RaiseLastSocketError(10057); }, -1, "Нет связи"},
      {"10061", [] { RaiseLastSocketError(10061); }, -199,
       "10061, WSAECONNREFUSED: Connection refused"},
      {"10048", [] { RaiseLastSocketError(10048); }, -199,
       "10048, WSAEADDRINUSE: Address already in use"},
      {"10040", [] { RaiseLastSocketError(10040); }, -199, "10040, WSAEMSGSIZE: Message too long"},
      {"10059", [] { RaiseLastSocketError(10059); }, -199,
       "10059, WSAETOOMANYREFS: Too many references:can't splice"},
      {"11004", [] { RaiseLastSocketError(11004); }, -199,
       "11004, WSANO_DATA: Valid name, no data record of requested type"},
      {"unknown", [] { RaiseLastSocketError(12345); }, -199, "12345, WSA: Not a Winsock error"},
      {"short frame", [] { raiseError(-15, format(ResultText::FrameTooShort, 1, 2)); }, -15,
       "Длина принятого кадра (1) меньше минимальной длины кадра (2)."},
      {"mismatch", [] { raiseError(-15, format(ResultText::CommandMismatch, 188, 187)); }, -15,
       "Код команды принятого кадра (188) \r\nне равен коду команды посланного кадра (187)."},
      {"invalid data", [] { raiseInvalidData(); }, -15, "Устройство вернуло неверные данные"},
      {"invalid value", [] { raiseInvalidValue(); }, -6, "Недопустимое значение"},
      {"no connection", [] { raiseNoConnection(); }, -1, "Нет связи"},
      {"211", [] { checkDeviceError(211); }, 211, "Неверное значение параметров команды."},
      {"213", [] { checkDeviceError(213); }, 213, "Команда не поддерживается в устройстве."},
      {"214", [] { checkDeviceError(214); }, 214, "Неверная последовательность команд."},
      {"217", [] { checkDeviceError(217); }, 217, "Невозможно выполнить операцию."},
      {"219", [] { checkDeviceError(219); }, 219, "Заблокировано. Ошибка CRC таблицы настроек."},
      {"220", [] { checkDeviceError(220); }, 220, "Ошибка параметра таблицы настроек."},
      {"212", [] { checkDeviceError(212); }, 212, "Устройство вернуло код ошибки: 212"},
      {"255", [] { checkDeviceError(255); }, 255, "Устройство вернуло код ошибки: 255"},
      {"error byte 0", [] { checkDeviceError(0); }, 0, "Ошибок нет"},
      {"other exception", [] { throw std::runtime_error("boom"); }, -199, "boom"},
  };
  for (const auto& c : cases) {
    ResultOf result = outcome(c.raise);
    EXPECT_EQ(result.code, c.code) << c.what;
    EXPECT_EQ(result.text, c.text) << c.what;
  }
}

TEST(ErrorTexts, MismatchTextBreaksAfterTheBlank) {
  std::string text = format(ResultText::CommandMismatch, 1, 2);
  size_t lineEnd = text.find("\r\n");
  ASSERT_NE(lineEnd, std::string::npos);
  EXPECT_EQ(text.substr(0, lineEnd), "Код команды принятого кадра (1) ");
}

TEST(ErrorTexts, EveryNamedCodeHasANameAndText) {
  for (int code :
       {10004, 10009, 10013, 10014, 10022, 10024, 10035, 10036, 10037, 10038, 10039, 10040, 10041,
        10042, 10043, 10044, 10045, 10046, 10047, 10048, 10049, 10050, 10051, 10052, 10053, 10054,
        10055, 10056, 10057, 10058, 10059, 10060, 10061, 10062, 10063, 10064, 10065, 10066, 10067,
        10068, 10069, 10070, 10071, 10091, 10092, 10093, 11001, 11002, 11003, 11004}) {
    EXPECT_NE(ErrorName(code), "WSA") << code;
    EXPECT_NE(ErrorText(code), "Not a Winsock error") << code;
  }
  EXPECT_EQ(ErrorText(10057), "Нет связи");
  EXPECT_EQ(ErrorName(10000), "WSA");
}

}  // namespace
}  // namespace mirelo
