#pragma once
// The member table of the automation interface: the one source from which
// the interfaces IVistel..IVistel4 (their virtual-table slots), the dispatch
// table and the type information are all produced.
//
// X(kind, name, dispid, type, help): kind is METHOD (returns the result code),
// ABOUT (no parameter, no result), READ (read-only property) or READWRITE;
// type is the property's type (LONG, BSTR, VARIANT_BOOL or VARIANT). Each
// list is in virtual-table order; a property's read slot precedes its write.
// Help strings are Windows-1251, as the type library stores them.

// IVistel: methods in alphabetical order after AboutBox, then properties.
#define MIRELO_IVISTEL_MEMBERS(X)                                       \
  X(ABOUT, AboutBox, -552, LONG, "ОПрограмме")                          \
  X(METHOD, AddLD, 1, LONG, "ДобавитьЛУ")                               \
  X(METHOD, ClientRead, 2, LONG, "КлиентПрочитать")                     \
  X(METHOD, ClientWrite, 3, LONG, "КлиентПередать")                     \
  X(METHOD, CloseClient, 4, LONG, "ЗакрытьСоединение")                  \
  X(METHOD, CloseServer, 5, LONG, "ЗакрытьСервер")                      \
  X(METHOD, Connect, 6, LONG, "УстановитьСвязь")                        \
  X(METHOD, DeleteLD, 7, LONG, "УдалитьЛУ")                             \
  X(METHOD, DeviceBySenderID, 8, LONG, "НайтиУстройствоПоIDКлиента")    \
  X(METHOD, Disconnect, 9, LONG, "РазорватьСвязь")                      \
  X(METHOD, GetData, 10, LONG, "ПолучитьДанные")                        \
  X(METHOD, GetFieldParams, 11, LONG, "ПолучитьПараметрыПоля")          \
  X(METHOD, GetFieldStruct, 12, LONG, "ЗапросСтруктурыПоля")            \
  X(METHOD, GetSenderParams, 13, LONG, "ПолучитьПараметрыКлиента")      \
  X(METHOD, GetStatus, 14, LONG, "ПолучитьСостояние")                   \
  X(METHOD, GetTableStruct, 15, LONG, "ПолучитьСтруктуруТаблицы")       \
  X(METHOD, InitTable, 16, LONG, "ИнициализироватьТаблицы")             \
  X(METHOD, LockDevice, 17, LONG, "БлокировкаУстройства")               \
  X(METHOD, OpenClient, 18, LONG, "ОткрытьСоединение")                  \
  X(METHOD, OpenServer, 19, LONG, "ОткрытьСервер")                      \
  X(METHOD, ReadFieldsStruct, 20, LONG, "ЗапросСтруктурыПолей")         \
  X(METHOD, ReadTable, 21, LONG, "ПрочитатьТаблицу")                    \
  X(METHOD, SaveParams, 22, LONG, "СохранитьПараметры")                 \
  X(METHOD, SendAnswer, 23, LONG, "ПередатьОтвет")                      \
  X(METHOD, SendEvent, 24, LONG, "ПослатьСобытие")                      \
  X(METHOD, ServerWrite, 25, LONG, "СерверПередать")                    \
  X(METHOD, SetDefaults, 26, LONG, "УстановитьПараметрыПоУмолчанию")    \
  X(METHOD, SetFieldValue, 27, LONG, "УстановитьЗначениеПоля")          \
  X(METHOD, SetIPAddress, 28, LONG, "УстановитьIPАдрес")                \
  X(METHOD, ShowMessage, 29, LONG, "ВывестиСообщение")                  \
  X(METHOD, ShowProperties, 30, LONG, "НастройкаСвойств")               \
  X(METHOD, ShowTables, 31, LONG, "ПоказатьТаблицы")                    \
  X(METHOD, UnlockDevice, 32, LONG, "РазблокировкаУстройства")          \
  X(METHOD, UpdateSoft, 33, LONG, "ОбновитьПО")                         \
  X(METHOD, WriteTable, 34, LONG, "ЗаписатьТаблицу")                    \
  X(READ, ClientConnected, 35, VARIANT_BOOL, "СвязьУстановлена")        \
  X(READWRITE, ClientData, 36, BSTR, "КлиентДанные")                    \
  X(READWRITE, ClientIP, 37, BSTR, "IPУстройства")                      \
  X(READWRITE, ClientPort, 38, LONG, "ПортУстройства")                  \
  X(READWRITE, ClientProtocol, 39, LONG, "ПротоколУстройства")          \
  X(READWRITE, ClientTimeout, 40, LONG, "Таймаут")                      \
  X(READ, DataBlock, 41, BSTR, "БлокДанных")                            \
  X(READ, DataBlockCount, 42, LONG, "КоличествоБлоковДанных")           \
  X(READWRITE, DataBlockNumber, 43, LONG, "НомерБлокаДанных")           \
  X(READ, DataBlockSA, 44, VARIANT, "БлокДанныхМассив")                 \
  X(READWRITE, DeviceCode, 45, LONG, "КодУстройства")                   \
  X(READ, DeviceCodeDescription, 46, BSTR, "ОписаниеУстройства")        \
  X(READ, DeviceType, 47, LONG, "ТипУстройства")                        \
  X(READ, DeviceTypeDescription, 48, BSTR, "ОписаниеТипаУстройства")    \
  X(READ, FieldMaxValueStr, 49, BSTR, "МаксЗначениеСтр")                \
  X(READ, FieldMinValueStr, 50, BSTR, "МинЗначениеСтр")                 \
  X(READ, FieldName, 51, BSTR, "НазваниеПоля")                          \
  X(READWRITE, FieldNumber, 52, LONG, "НомерПоля")                      \
  X(READ, FieldSize, 53, LONG, "РазмерПоля")                            \
  X(READ, FieldType, 54, LONG, "ТипПоля")                               \
  X(READWRITE, FieldValue, 55, BSTR, "ЗначениеПоля")                    \
  X(READ, FileVersion, 56, BSTR, "ВерсияФайла")                         \
  X(READ, FirmID, 57, LONG, "IDФирмы")                                  \
  X(READ, Input, 58, BSTR, "Посылка")                                   \
  X(READ, IsDeviceLocked, 59, VARIANT_BOOL, "УстройствоЗаблокировано")  \
  X(READ, IsSetupTableError, 60, VARIANT_BOOL, "ОшибкаТаблицыНастроек") \
  X(READ, LDCount, 61, LONG, "КоличествоЛУ")                            \
  X(READWRITE, LDIndex, 62, LONG, "ИндексЛУ")                           \
  X(READWRITE, LDName, 63, BSTR, "ИмяЛУ")                               \
  X(READWRITE, LDNumber, 64, LONG, "НомерЛУ")                           \
  X(READWRITE, Line1, 65, BSTR, "Строка1")                              \
  X(READWRITE, Line2, 66, BSTR, "Строка2")                              \
  X(READWRITE, LockDevices, 67, VARIANT_BOOL, "БлокироватьЛУ")          \
  X(READ, MAC, 68, BSTR, "MACАдрес")                                    \
  X(READ, MaxValueOfField, 69, LONG, "МаксимальноеЗначениеПоля")        \
  X(READ, MinValueOfField, 70, LONG, "МинимальноеЗначениеПоля")         \
  X(READ, Output, 71, BSTR, "Ответ")                                    \
  X(READ, ResultCode, 72, LONG, "КодОшибки")                            \
  X(READ, ResultCodeDescription, 73, BSTR, "ОписаниеКодаОшибки")        \
  X(READWRITE, RowNumber, 74, LONG, "НомерРяда")                        \
  X(READWRITE, SenderID, 75, LONG, "IDКлиента")                         \
  X(READ, SenderIP, 76, BSTR, "IPКлиента")                              \
  X(READ, SerialNumber, 77, LONG, "ЗаводскойНомер")                     \
  X(READWRITE, ServerData, 78, BSTR, "ДанныеСервера")                   \
  X(READ, ServerOpened, 79, VARIANT_BOOL, "СерверОткрыт")               \
  X(READWRITE, ServerPort, 80, LONG, "ПортСервера")                     \
  X(READWRITE, ServerProtocol, 81, LONG, "ПротоколСервера")             \
  X(READ, SoftBuild, 82, LONG, "СборкаПО")                              \
  X(READ, SoftDate, 83, BSTR, "ДатаПО")                                 \
  X(READWRITE, SoftFileName, 84, BSTR, "ФайлПО")                        \
  X(READ, SoftVersion, 85, BSTR, "ВерсияПО")                            \
  /* The sixth letter of this help string is a Latin C, as stored. */   \
  X(READ, StatusFlags, 86, LONG, "ФлагиCостояния")                      \
  X(READ, TableName, 87, BSTR, "НазваниеТаблицы")                       \
  X(READWRITE, TableNumber, 88, LONG, "НомерТаблицы")

#define MIRELO_IVISTEL2_MEMBERS(X)            \
  X(READWRITE, Barcode, 89, BSTR, "ШтрихКод") \
  X(METHOD, SendBarcode, 90, LONG, "ПередатьШтрихКод")

#define MIRELO_IVISTEL3_MEMBERS(X) X(METHOD, Reset, 91, LONG, "Сброс")

// LogEnabled and LogFileName come last in the table though their identifiers
// are lower; 94 to 99 belong to no member.
#define MIRELO_IVISTEL4_MEMBERS(X)                           \
  X(METHOD, ReadMessage, 100, LONG, "ПрочитатьСообщение")    \
  X(METHOD, SendCommand, 101, LONG, "ПослатьКоманду")        \
  X(METHOD, SetDefaultMessage, 102, LONG, "")                \
  X(METHOD, ShowLine, 103, LONG, "ВывестиСтроку")            \
  X(METHOD, ShowMessage2, 104, LONG, "ВывестиСообщение2")    \
  X(METHOD, TestTCP, 105, LONG, "ПроверкаTCP")               \
  X(METHOD, WriteCommand, 106, LONG, "ЗаписатьКоманду")      \
  X(METHOD, WriteMessage, 107, LONG, "ЗаписатьСообщение")    \
  X(READWRITE, CommandData, 108, BSTR, "ДанныеКоманды")      \
  X(READWRITE, FileName, 109, BSTR, "ИмяФайла")              \
  X(READWRITE, Line1Params, 110, BSTR, "ПараметрыСтроки1")   \
  X(READWRITE, Line2Params, 111, BSTR, "ПараметрыСтроки2")   \
  X(READWRITE, LineData, 112, BSTR, "")                      \
  X(READWRITE, LineNumber, 113, LONG, "")                    \
  X(READWRITE, LineSpeed, 114, LONG, "")                     \
  X(READWRITE, LineType, 115, LONG, "")                      \
  X(READWRITE, MessageNumber, 116, LONG, "НомерСообщения")   \
  X(READWRITE, OutputTime, 117, LONG, "ВремяВыводаСтроки")   \
  X(READWRITE, RepeatCount, 118, LONG, "КоличествоПовторов") \
  X(READWRITE, LogEnabled, 92, VARIANT_BOOL, "ЛогВключен")   \
  X(READWRITE, LogFileName, 93, BSTR, "ФайлЛога")
