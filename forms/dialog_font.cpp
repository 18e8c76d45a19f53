#include "forms/dialog_font.h"

#include <optional>

#include "platform/registry/registry.h"

namespace mirelo {

namespace {

namespace Value = DialogFontLayout::Value;

bool storedAs(const RegistryKey& key, const char* name, RegistryValueType type) {
  return key.valueType(name) == type;
}

void addStyle(const RegistryKey& key, const char* name, bool& style) {
  if (storedAs(key, name, RegistryValueType::Integer) && key.readBool(name)) style = true;
}

}  // namespace

void LoadDialogFont(Registry& registry, TDialogFont& font) {
  font = TDialogFont();
  std::optional<RegistryKey> key =
      registry.openKey(RegistryRoot::CurrentUser, DialogFontLayout::Key, false);
  if (!key) return;
  if (storedAs(*key, Value::Name, RegistryValueType::String))
    font.Name = key->readString(Value::Name);
  if (storedAs(*key, Value::Size, RegistryValueType::Integer))
    font.Size = key->readInteger(Value::Size);
  if (storedAs(*key, Value::Color, RegistryValueType::Integer))
    font.Color = key->readInteger(Value::Color);
  if (storedAs(*key, Value::CharSet, RegistryValueType::Integer))
    font.CharSet = key->readInteger(Value::CharSet);
  addStyle(*key, Value::IsBold, font.Bold);
  addStyle(*key, Value::IsItalic, font.Italic);
  addStyle(*key, Value::IsUnderlined, font.Underline);
  addStyle(*key, Value::IsStruckOut, font.StrikeOut);
}

TDialogFont LoadDialogFont() {
  TDialogFont font;
  try {
    Registry registry;
    LoadDialogFont(registry, font);
  } catch (const std::exception&) {
    font = TDialogFont();
  }
  return font;
}

}  // namespace mirelo
