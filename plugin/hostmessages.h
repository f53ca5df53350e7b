#pragma once

// What the host tells the tool in the text of handleModulePlugin (its choices for each update come as
// one RunOptions value).
namespace HostMessages {

// The host's tree of modules has been rebuilt.
constexpr const char* DeviceTreeReady = "deviceTreeReady";

}
