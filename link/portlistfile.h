#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>

// The serial ports a simulator (or a script) offers to the host, in a small text file that the host
// polls, because pseudo-terminals are not listed by the system's port enumeration. One port per line:
// "<port name>\t<device path>\t<serial|usb>"; lines that do not have this form are skipped.
namespace PortListFile {

// Descriptions that tell a discovered port's link kind.
constexpr const char* UsbDescription = "DUXL USB device";
constexpr const char* SerialDescription = "DUXL serial device";

struct Entry
{
    QString portName;
    QString systemLocation;
    bool usb = false;
};

// Replaces the file in one step, so that a reader never sees half of it.
bool write(const QString& path, const QList<Entry>& entries);
// The ports of the file; none when it is missing or unreadable.
QList<QSerialPortInfo> read(const QString& path);

}
