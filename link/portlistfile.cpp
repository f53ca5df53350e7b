#include "portlistfile.h"

#include "serialportdescription.h"

#include <QFile>
#include <QSaveFile>

namespace PortListFile {

namespace {
constexpr const char* UsbKind = "usb";
constexpr const char* SerialKind = "serial";
constexpr int FieldsPerLine = 3;
}

bool write(const QString& path, const QList<Entry>& entries)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    for (const Entry& entry : entries) {
        const QString line = entry.portName + QLatin1Char('\t') + entry.systemLocation + QLatin1Char('\t')
            + QLatin1String(entry.usb ? UsbKind : SerialKind) + QLatin1Char('\n');
        file.write(line.toUtf8());
    }
    return file.commit();
}

QList<QSerialPortInfo> read(const QString& path)
{
    QList<QSerialPortInfo> ports;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return ports;
    while (!file.atEnd()) {
        const QStringList fields = QString::fromUtf8(file.readLine()).trimmed().split(QLatin1Char('\t'));
        if (fields.size() != FieldsPerLine || fields.at(0).isEmpty() || fields.at(1).isEmpty())
            continue;
        const bool usb = fields.at(2) == QLatin1String(UsbKind);
        if (!usb && fields.at(2) != QLatin1String(SerialKind))
            continue;
        ports.append(describeSerialPort(fields.at(0), fields.at(1),
                                        QLatin1String(usb ? UsbDescription : SerialDescription)));
    }
    return ports;
}

}
