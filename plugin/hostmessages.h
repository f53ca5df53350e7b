#pragma once

// Reports of the host about its modules that the tool reacts to (the text of handleModulePlugin).
namespace HostMessages {

// The host's tree of modules has been rebuilt.
constexpr const char* DeviceTreeReady = "deviceTreeReady";

}
