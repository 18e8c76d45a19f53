#pragma once
// Where the logical devices and the driver parameters live in the registry
// (root: the current user), and the names of their values.
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

}  // namespace mirelo::RegistryLayout
