#pragma once

// What the host tells the tool: reports about its modules (the text of handleModulePlugin), and
// choices it sets as dynamic properties of the tool's widget.
namespace HostMessages {

// The host's tree of modules has been rebuilt.
constexpr const char* DeviceTreeReady = "deviceTreeReady";
// True: each update first reads the module's checksum and leaves a module that holds the file as it is.
constexpr const char* IfChangedProperty = "dpIfChanged";
// True: a module whose firmware is not older than the file's (docs/protocol.md, "Version order") is not updated.
constexpr const char* IfNewerProperty = "dpIfNewer";
// The SHA-256 the chosen file must have (hexadecimal); empty: any file.
constexpr const char* ExpectedSha256Property = "dpExpectedSha256";

}
