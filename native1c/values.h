#pragma once
// Values between the platform's tVariant and the automation values of the
// driver object. Text passes unit for unit between the platform's UTF-16 and
// the object's BSTR, which the object converts to Windows-1251 as it does for
// every automation host, so the binary members (one byte a character) round
// trip; 8-bit text and blobs from the platform are those bytes. What a
// property accepts follows its type in the automation interface's member
// table: integers from any integer type or an integral double, Booleans from
// a Boolean or a number, text from a string or a blob.
#include <string>
#include <string_view>

#include "native1c/native_api.h"
#include "platform/com/variant.h"

namespace mirelo::native {

enum class ValueKind { Any, Integer, Text, Boolean };

// The kind of the driver property with this English name (Any for a name
// the member table lacks).
ValueKind propertyKind(std::u16string_view name);

// A zero-terminated string of the platform's (null is empty).
std::u16string fromPlatform(const WCHAR_T* text);
// Zero-terminated, for the platform's arguments.
std::basic_string<WCHAR_T> toPlatform(std::u16string_view text);

// The platform's value for property (its English name) of that kind; raises
// EDriverError (InvalidValue, naming the property) for a type that does not fit.
Variant toAutomation(const tVariant& value, ValueKind kind, std::u16string_view property);

// A copy of text in a block of the platform's, which the platform frees;
// raises EDriverError when there is no memory manager or it gives no memory.
WCHAR_T* allocateText(IMemoryManager* memory, std::u16string_view text);

// An automation value (a property's, a method's result) as the platform's:
// numbers, Booleans (and integer values of Boolean properties) as such,
// text as VTYPE_PWSTR, a byte array as VTYPE_BLOB, both allocated through
// memory. Raises EDriverError for a value it cannot carry; nothing is then
// allocated.
tVariant toPlatform(const Variant& value, ValueKind kind, IMemoryManager* memory);

}  // namespace mirelo::native
