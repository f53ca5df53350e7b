#pragma once

// Where the plug-in keeps what it remembers: its settings group with the keys' suffixes.
namespace PluginSettings {

constexpr const char* Group = "Container_FirmwareUpdate";
// Per module name: the folder a firmware file was last chosen from.
constexpr const char* DirectorySuffix = "_Dir";
// Per link prefix: the data rate, and with AddressSuffix added, the module address.
constexpr const char* DataRateSuffix = "_Bitrate";
constexpr const char* AddressSuffix = "_Id";
// Below the host's home path: the local pool of used firmware files.
constexpr const char* PoolFolder = "/../Firmware";

}
