#pragma once
// Where the logical devices, the driver parameters and the dialog font live in
// the registry (root: the current user), and the names of their values.
// Files written by earlier versions use exactly these names.
namespace mirelo::RegistryLayout {

constexpr const char* DevicesKey = "Software\\Korvex\\Mirelo\\Mirelo\\Devices";
// Subkey of one device below DevicesKey: "Device" and its number.
constexpr const char* DeviceSubKeyFormat = "Device%d";

namespace DeviceValue {
constexpr const char* Timeout = "Timeout";
constexpr const char* IPAddress = "IPAddress";
constexpr const char* DeviceName = "DeviceName";
constexpr const char* ClientPort = "ClientPort";
constexpr const char* DeviceNumber = "DeviceNumber";  // also on DevicesKey: the current device
constexpr const char* ClientProtocol = "ClientProtocol";
constexpr const char* RepeatCount = "RepeatCount";
}  // namespace DeviceValue

constexpr const char* ParamsKey = "Software\\Korvex\\Mirelo\\Mirelo\\Params";

namespace ParamValue {
constexpr const char* SoftFileName = "SoftFileName";
constexpr const char* ServerPort = "ServerPort";
constexpr const char* ServerProtocol = "ServerProtocol";
constexpr const char* LogEnabled = "LogEnabled";
constexpr const char* LogFileName = "LogFileName";
}  // namespace ParamValue

// Below the current user's root, not the default user's: the leading '\'
// only anchors the path at the root.
constexpr const char* FontKey = "\\.DEFAULT\\SOFTWARE\\Korvex\\Font";

namespace FontValue {
constexpr const char* Name = "FontName";
constexpr const char* Size = "FontSize";
constexpr const char* Color = "FontColor";
constexpr const char* CharSet = "FontCharSet";
constexpr const char* IsBold = "FontIsBold";
constexpr const char* IsItalic = "FontIsItalic";
constexpr const char* IsUnderlined = "FontIsUnderlined";
constexpr const char* IsStruckOut = "FontIsStriledOut";  // sic: the name as stored
}  // namespace FontValue

}  // namespace mirelo::RegistryLayout
