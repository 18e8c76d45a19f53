#include "tools/termsim/terminal_state.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "platform/format.h"

namespace mirelo::termsim {

std::string StatusInfo::macText() const {
  return format("%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

bool StatusInfo::setMacText(std::string_view text) {
  std::optional<std::string> bytes = parseHexBytes(text, "-:");
  if (!bytes || bytes->size() != mac.size()) return false;
  std::copy(bytes->begin(), bytes->end(), mac.begin());
  return true;
}

size_t TableDef::rowSize() const {
  size_t size = 0;
  for (const FieldDef& field : fields) size += field.size;
  return size;
}

size_t TableDef::offsetOf(size_t row, size_t field) const {
  if (row >= rows || field >= fields.size()) throw std::out_of_range("no such row or field");
  size_t offset = row * rowSize();
  for (size_t i = 0; i < field; ++i) offset += fields[i].size;
  return offset;
}

uint64_t TableDef::number(size_t row, size_t field) const {
  size_t offset = offsetOf(row, field);
  size_t size = fields[field].size < 8 ? fields[field].size : 8;
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i)
    value |= static_cast<uint64_t>(static_cast<uint8_t>(data.at(offset + i))) << (8 * i);
  return value;
}

void TableDef::setNumber(size_t row, size_t field, uint64_t value) {
  size_t offset = offsetOf(row, field);
  for (size_t i = 0; i < fields[field].size; ++i)
    data.at(offset + i) = static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0);
}

std::string TableDef::text(size_t row, size_t field) const {
  return data.substr(offsetOf(row, field), fields[field].size);
}

void TableDef::setText(size_t row, size_t field, std::string_view value) {
  size_t offset = offsetOf(row, field);
  for (size_t i = 0; i < fields[field].size; ++i)
    data.at(offset + i) = i < value.size() ? value[i] : '\0';
}

std::string TableDef::ipText(size_t row, size_t field) const {
  std::string bytes = text(row, field);
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) {
    if (i) out += '.';
    out += std::to_string(static_cast<uint8_t>(bytes[i]));
  }
  return out;
}

bool TableDef::setIpText(size_t row, size_t field, std::string_view dotted) {
  std::string bytes;
  unsigned value = 0;
  size_t digits = 0;
  for (size_t i = 0; i <= dotted.size(); ++i) {
    if (i == dotted.size() || dotted[i] == '.') {
      if (digits == 0 || value > 255) return false;
      bytes += static_cast<char>(value);
      value = 0;
      digits = 0;
    } else if (dotted[i] >= '0' && dotted[i] <= '9' && digits < 3) {
      value = value * 10 + (dotted[i] - '0');
      ++digits;
    } else {
      return false;
    }
  }
  if (bytes.size() != 4) return false;
  setText(row, field, bytes);
  return true;
}

namespace {

FieldDef number(const char* name, uint8_t size, uint64_t minValue, uint64_t maxValue) {
  return {name, FieldType::Number, size, minValue, maxValue};
}
FieldDef text(const char* name, uint8_t size) {
  return {name, FieldType::String, size, 0, 0};
}
FieldDef address(const char* name) {
  return {name, FieldType::IPAddress, 4, 0, 0xFFFFFFFFu};
}

TableDef makeTable(const char* name, uint8_t rows, std::vector<FieldDef> fields) {
  TableDef table{name, rows, std::move(fields), {}};
  table.data.assign(table.dataSize(), '\0');
  return table;
}

// Memory filler: differs per device code, block and position.
uint8_t memoryPattern(size_t code, size_t position) {
  uint32_t x =
      static_cast<uint32_t>(position * 2654435761u + code * 40503u + position / kBlockSize);
  return static_cast<uint8_t>((x >> 13) ^ x);
}

}  // namespace

std::vector<TableDef> defaultTables() {
  std::vector<TableDef> tables;

  // Table 0, field 0 is the terminal's own address: 0xB7 updates it.
  TableDef network = makeTable(
      "Сетевые параметры", 1,
      {address("IP адрес"), address("Маска подсети"), address("Шлюз"), number("Порт", 2, 1, 65535),
       address("IP адрес сервера"), number("Порт сервера", 2, 1, 65535),
       number("Протокол сервера", 1, 0, 1), text("Имя устройства", 16)});
  network.setIpText(0, 0, "127.0.0.1");
  network.setIpText(0, 1, "255.0.0.0");
  network.setIpText(0, 2, "127.0.0.1");
  network.setNumber(0, 3, 1002);
  network.setIpText(0, 4, "127.0.0.1");
  network.setNumber(0, 5, 2004);
  network.setNumber(0, 6, 1);
  network.setText(0, 7, "Vistel");
  tables.push_back(std::move(network));

  TableDef display =
      makeTable("Экран", 1,
                {number("Яркость", 1, 0, 15), number("Время сообщения", 1, 1, 255),
                 number("Скорость строки", 1, 0, 255), text("Строка 1", 30), text("Строка 2", 30)});
  display.setNumber(0, 0, 8);
  display.setNumber(0, 1, 5);
  display.setNumber(0, 2, 10);
  display.setText(0, 3, format("%-30s", "Отсканируйте"));
  display.setText(0, 4, format("%-30s", "штрихкод товара"));
  tables.push_back(std::move(display));

  // Numbers of every size from 1 to 6 bytes, short and long strings, an address.
  TableDef codes = makeTable(
      "Коды товаров", 4,
      {number("Номер", 1, 0, 255), number("Префикс", 2, 0, 9999), number("Группа", 3, 0, 999999),
       number("Цена", 4, 0, 99999999), number("Количество", 5, 0, 0xFFFFFFFFFFull),
       number("Сумма", 6, 0, 0xFFFFFFFFFFFFull), text("Метка", 3), text("Код", 13),
       address("Адрес весов"), text("Знак", 1)});
  for (uint8_t row = 0; row < codes.rows; ++row) {
    codes.setNumber(row, 0, row + 1u);
    codes.setNumber(row, 1, 4600u + row);
    codes.setNumber(row, 2, 70000u + 111u * row);
    codes.setNumber(row, 3, 1990u + 1000u * row);
    codes.setNumber(row, 4, 0x0102030405ull + row);
    codes.setNumber(row, 5, 0x0A0B0C0D0E0Full + row);
    codes.setText(row, 6, format("M%.2d", row));
    codes.setText(row, 7, format("46000000000%.2d", row));
    codes.setIpText(row, 8, format("127.0.0.%d", 10 + row));
    codes.setText(row, 9, row % 2 ? "Б" : "А");
  }
  tables.push_back(std::move(codes));

  TableDef users = makeTable(
      "Пароли", 2, {number("Пароль", 4, 0, 99999999), number("Уровень", 1, 1, 3), text("Имя", 6)});
  users.setNumber(0, 0, 30);
  users.setNumber(0, 1, 3);
  users.setText(0, 2, "Админ");
  users.setNumber(1, 0, 1);
  users.setNumber(1, 1, 1);
  users.setText(1, 2, "Кассир");
  tables.push_back(std::move(users));
  return tables;
}

std::string defaultMessageText(size_t number) {
  return format("%-30s%-30s", format("Сообщение %zu", number).c_str(), "Терминал");
}

TerminalState::TerminalState() : tables(termsim::defaultTables()), defaultTables(tables) {
  setMessageCount(8);
  const size_t blocks[kMemoryCount] = {8, 4, 4, 16};
  for (size_t code = 0; code < kMemoryCount; ++code) setMemoryBlocks(code, blocks[code]);
}

void TerminalState::setMessageCount(size_t count) {
  size_t old = messages.size();
  messages.resize(count);
  defaultMessages.resize(count);
  for (size_t i = old; i < count; ++i) messages[i] = defaultMessages[i] = defaultMessageText(i);
}

void TerminalState::setMemoryBlocks(size_t code, size_t blocks) {
  std::string& memory = memories.at(code);
  size_t old = memory.size();
  memory.resize(blocks * kBlockSize);
  for (size_t i = old; i < memory.size(); ++i)
    memory[i] = static_cast<char>(memoryPattern(code, i));
}

void TerminalState::setMemory(size_t code, std::string_view bytes) {
  std::string& memory = memories.at(code);
  memory.assign(bytes);
  memory.append((kBlockSize - memory.size() % kBlockSize) % kBlockSize, '\xFF');
}

}  // namespace mirelo::termsim
