#include "native1c/values.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>

#include "driver/errors/driver_error.h"
#include "mirelo/vistel_members.h"
#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo::native {

namespace {

template <class T>
constexpr ValueKind kindOf() {
  if constexpr (std::is_same_v<T, LONG>)
    return ValueKind::Integer;
  else if constexpr (std::is_same_v<T, BSTR>)
    return ValueKind::Text;
  else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
    return ValueKind::Boolean;
  else
    return ValueKind::Any;
}

struct PropertyEntry {
  std::string_view name;
  ValueKind kind;
};

#define MIRELO_PROPERTY_ABOUT(name, T)
#define MIRELO_PROPERTY_METHOD(name, T)
#define MIRELO_PROPERTY_READ(name, T) {#name, kindOf<T>()},
#define MIRELO_PROPERTY_READWRITE(name, T) MIRELO_PROPERTY_READ(name, T)
#define MIRELO_PROPERTY(kind, name, id, T, help) MIRELO_PROPERTY_##kind(name, T)
constexpr PropertyEntry kProperties[] = {
    MIRELO_IVISTEL_MEMBERS(MIRELO_PROPERTY) MIRELO_IVISTEL2_MEMBERS(MIRELO_PROPERTY)
        MIRELO_IVISTEL3_MEMBERS(MIRELO_PROPERTY) MIRELO_IVISTEL4_MEMBERS(MIRELO_PROPERTY)};
#undef MIRELO_PROPERTY

[[noreturn]] void rejectValue(std::u16string_view property, const std::string& why) {
  raiseError(ResultCode::InvalidValue, format("%s (%s: %s)", ResultText::InvalidValue,
                                              wideToAnsi(property).c_str(), why.c_str()));
}

std::optional<int64_t> integral(double value) {
  if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) > 9.0e18)
    return std::nullopt;
  return static_cast<int64_t>(value);
}

std::optional<int64_t> integerOf(const tVariant& value) {
  switch (value.vt) {
    case VTYPE_I1:
      return value.i8Val;
    case VTYPE_I2:
      return value.shortVal;
    case VTYPE_I4:
      return value.lVal;
    case VTYPE_INT:
      return value.intVal;
    case VTYPE_I8:
      return value.llVal;
    case VTYPE_UI1:
      return value.ui8Val;
    case VTYPE_UI2:
      return value.ushortVal;
    case VTYPE_UI4:
      return value.ulVal;
    case VTYPE_UINT:
      return value.uintVal;
    case VTYPE_UI8:
      if (value.ullVal > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
      return static_cast<int64_t>(value.ullVal);
    case VTYPE_R4:
      return integral(value.fltVal);
    case VTYPE_R8:
      return integral(value.dblVal);
    default:
      return std::nullopt;
  }
}

std::optional<std::u16string> textOf(const tVariant& value) {
  switch (value.vt) {
    case VTYPE_PWSTR:
      if (!value.pwstrVal) return value.wstrLen ? std::nullopt : std::optional(std::u16string());
      return std::u16string(value.pwstrVal, value.pwstrVal + value.wstrLen);
    case VTYPE_PSTR:
    case VTYPE_BLOB:
      if (!value.pstrVal) return value.strLen ? std::nullopt : std::optional(std::u16string());
      return ansiToWide(std::string_view(value.pstrVal, value.strLen));
    default:
      return std::nullopt;
  }
}

bool fitsInt32(int64_t value) {
  return value >= INT32_MIN && value <= INT32_MAX;
}

void* allocateBlock(IMemoryManager* memory, unsigned long bytes) {
  void* block = nullptr;
  if (!memory) raiseError(ResultCode::General, "Платформа не передала менеджер памяти");
  if (!memory->AllocMemory(&block, bytes) || !block)
    raiseError(ResultCode::General,
               format("Платформа не выделила память (%d байт)", static_cast<int>(bytes)));
  return block;
}

}  // namespace

ValueKind propertyKind(std::u16string_view name) {
  for (const PropertyEntry& entry : kProperties)
    if (std::equal(name.begin(), name.end(), entry.name.begin(), entry.name.end()))
      return entry.kind;
  return ValueKind::Any;
}

std::u16string fromPlatform(const WCHAR_T* text) {
  std::u16string result;
  if (text)
    for (; *text; ++text) result += static_cast<char16_t>(*text);
  return result;
}

std::basic_string<WCHAR_T> toPlatform(std::u16string_view text) {
  return std::basic_string<WCHAR_T>(text.begin(), text.end());
}

Variant toAutomation(const tVariant& value, ValueKind kind, std::u16string_view property) {
  std::optional<int64_t> integer = integerOf(value);
  switch (kind) {
    case ValueKind::Integer:
      if (!integer) rejectValue(property, "ожидается целое число");
      if (!fitsInt32(*integer)) rejectValue(property, "число вне диапазона");
      return Variant(static_cast<int32_t>(*integer));
    case ValueKind::Boolean:
      if (value.vt == VTYPE_BOOL) return Variant(value.bVal);
      if (!integer) rejectValue(property, "ожидается Булево");
      return Variant(*integer != 0);
    case ValueKind::Text:
      if (std::optional<std::u16string> text = textOf(value)) return Variant(std::move(*text));
      rejectValue(property, "ожидается строка");
    case ValueKind::Any:
      break;
  }
  if (value.vt == VTYPE_EMPTY) return Variant();
  if (value.vt == VTYPE_BOOL) return Variant(value.bVal);
  if (integer && fitsInt32(*integer)) return Variant(static_cast<int32_t>(*integer));
  if (value.vt == VTYPE_R8) return Variant(value.dblVal);
  if (std::optional<std::u16string> text = textOf(value)) return Variant(std::move(*text));
  rejectValue(property, format("тип значения %d не поддерживается", value.vt));
}

WCHAR_T* allocateText(IMemoryManager* memory, std::u16string_view text) {
  auto* block = static_cast<WCHAR_T*>(allocateBlock(memory, (text.size() + 1) * sizeof(WCHAR_T)));
  std::copy(text.begin(), text.end(), block);
  block[text.size()] = 0;
  return block;
}

tVariant toPlatform(const Variant& value, ValueKind kind, IMemoryManager* memory) {
  tVariant out{};
  switch (value.vt) {
    case VT_EMPTY:
      out.vt = VTYPE_EMPTY;
      break;
    case VT_BOOL:
      out.vt = VTYPE_BOOL;
      out.bVal = value.toBool();
      break;
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      if (kind == ValueKind::Boolean) {
        out.vt = VTYPE_BOOL;
        out.bVal = value.toBool();
      } else {
        out.vt = VTYPE_I4;
        out.lVal = value.toInt();
      }
      break;
    case VT_R8:
    case VT_CY:
      out.vt = VTYPE_R8;
      out.dblVal = value.toDouble();
      break;
    case VT_BSTR: {
      std::u16string text = value.toString();
      out.pwstrVal = allocateText(memory, text);
      out.wstrLen = static_cast<uint32_t>(text.size());
      out.vt = VTYPE_PWSTR;
      break;
    }
    case VT_ARRAY | VT_UI1: {
      std::string bytes = value.toBytes();
      out.pstrVal = static_cast<char*>(allocateBlock(memory, std::max<size_t>(bytes.size(), 1)));
      std::memcpy(out.pstrVal, bytes.data(), bytes.size());
      out.strLen = static_cast<uint32_t>(bytes.size());
      out.vt = VTYPE_BLOB;
      break;
    }
    default:
      raiseError(ResultCode::General,
                 format("Значение типа %d не передаётся платформе", static_cast<int>(value.vt)));
  }
  return out;
}

}  // namespace mirelo::native
