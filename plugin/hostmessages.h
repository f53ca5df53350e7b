#pragma once

// What the host tells the tool: reports about its modules (the text of handleModulePlugin), and
// choices it sets as dynamic properties of the tool's widget.
namespace HostMessages {

// The host's tree of modules has been rebuilt.
constexpr const char* DeviceTreeReady = "deviceTreeReady";
// True: each update first reads the module's checksum and leaves a module that holds the file as it is.
constexpr const char* IfChangedProperty = "dpIfChanged";
// True: each update only compares the module's sums with the file's and restarts the module, writing nothing.
constexpr const char* VerifyOnlyProperty = "dpVerifyOnly";

}
