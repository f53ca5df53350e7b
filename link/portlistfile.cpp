#include "portlistfile.h"

#include "linkkindrules.h"
#include "serialportdescription.h"

#include <QFile>
#include <QSaveFile>

namespace PortListFile {

namespace {
constexpr int FieldsPerLine = 3;
}

bool write(const QString& path, const QList<Entry>& entries)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    for (const Entry& entry : entries) {
        const QString line = entry.portName + QLatin1Char('\t') + entry.systemLocation + QLatin1Char('\t')
            + QString::fromLatin1(LinkKindRules::forKind(entry.linkKind).name).toLower() + QLatin1Char('\n');
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
        const std::optional<int> kind = LinkKindRules::kindNamed(fields.at(2));
        if (!kind)
            continue;
        ports.append(describeSerialPort(fields.at(0), fields.at(1),
                                        QLatin1String(LinkKindRules::forKind(*kind).portDescription)));
    }
    return ports;
}

}
