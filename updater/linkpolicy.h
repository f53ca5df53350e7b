#pragma once

#include <QString>

// What the tool does with a module's link, by the kind of link (DUXLConnectionInterface::LinkKind):
// the data rate and address of each mode, what a reopen does, whether the module's port changes are
// followed and whether the link is handed back at completion. A new link kind is one row in linkpolicy.cpp.
struct LinkPolicy
{
    enum class Reopen {
        // Kinds the tool does not know: nothing is done and the run gets no answer.
        None,
        // The handler opens the device again; ready mode only announces the module's return.
        OpenDevice,
        // Bootloader mode: the bootloader baud rate of the module kind at address 1; firmware mode:
        // the remembered rate and address.
        BootloaderBaud,
        // Bootloader and firmware mode: the remembered rate and address.
        RememberedRate,
    };

    int kind = 0;
    Reopen reopen = Reopen::None;
    // The rate of a remembered link that was never stored.
    int defaultDataRate = 0;
    // The rate set right after the bootloader-entry command; 0: the link is reopened to bootloader mode.
    int entryDataRate = 0;
    // The module comes back under a new port after each switch (USB): the device is really closed, the
    // tool follows the port change, the host makes the link anew (it is not handed back) and hears
    // nothing of the update. The kind's LinkKindRules tell it.
    bool reenumerates = false;

    bool followsPortChange() const { return reenumerates; }
    bool handsLinkBack() const { return !reenumerates; }

    static LinkPolicy forKind(int kind);

    // The baud rate a module's bootloader talks at on a serial link, and whether the link must accept it.
    struct BootloaderBaudRate
    {
        int baud;
        bool mustBeAccepted;
    };
    static BootloaderBaudRate bootloaderBaud(const QString& moduleKind);

    // A module in its bootloader, or freshly enumerated on USB, answers at this address; it is also the
    // address of a remembered link that was never stored.
    static constexpr unsigned char BootloaderAddress = 1;
};
