#pragma once

// What the host tells the tool: reports about its modules (the text of handleModulePlugin), and
// choices it sets as dynamic properties of the tool's widget.
namespace HostMessages {

// The host's tree of modules has been rebuilt.
constexpr const char* DeviceTreeReady = "deviceTreeReady";
// True: each update first reads the module's checksum and leaves a module that holds the file as it is.
constexpr const char* IfChangedProperty = "dpIfChanged";
// True: an update whose module's flash holds the start of the file, erased after it, writes on from there
// without an erase.
constexpr const char* ResumeProperty = "dpResume";
// True: each update only compares the module's sums with the file's and restarts the module, writing nothing.
constexpr const char* VerifyOnlyProperty = "dpVerifyOnly";
// True: each update only reads the module's flash back and restarts the module, writing nothing; from the
// flash address ReadBackFirstProperty up to ReadBackEndProperty (qlonglong; -1 or unset: the module's
// flash base, and the end its memory size states).
constexpr const char* ReadBackProperty = "dpReadBack";
constexpr const char* ReadBackFirstProperty = "dpReadBackFirst";
constexpr const char* ReadBackEndProperty = "dpReadBackEnd";
// True: a module whose firmware is not older than the file's (docs/protocol.md, "Version order") is not updated.
constexpr const char* IfNewerProperty = "dpIfNewer";
// The SHA-256 the chosen file must have (hexadecimal); empty: any file.
constexpr const char* ExpectedSha256Property = "dpExpectedSha256";

}
