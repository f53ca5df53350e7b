#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>

// The serial ports a simulator (or a script) offers to the host, in a small text file that the host
// polls, because pseudo-terminals are not listed by the system's port enumeration. One port per line:
// "<port name>\t<device path>\t<link kind>", the kind by its name in LinkKindRules ("serial", "usb");
// lines that do not have this form are skipped. A port read from it carries its kind's description.
namespace PortListFile {

struct Entry
{
    QString portName;
    QString systemLocation;
    // DUXLConnectionInterface::LinkKind
    int linkKind = 0;
};

// Replaces the file in one step, so that a reader never sees half of it.
bool write(const QString& path, const QList<Entry>& entries);
// The ports of the file; none when it is missing or unreadable.
QList<QSerialPortInfo> read(const QString& path);

}
