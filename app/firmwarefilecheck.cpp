#include "firmwarefilecheck.h"

#include "intelhexparser.h"

#include <QFile>
#include <memory>

FirmwareFileCheck FirmwareFileCheck::of(const QString& fileName)
{
    FirmwareFileCheck check;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        check.problem = QStringLiteral("cannot read the firmware file %1: %2").arg(fileName, file.errorString());
        return check;
    }
    const std::unique_ptr<unsigned char[]> image(new unsigned char[IntelHex::ImageSize]);
    const IntelHex::ReadResult result = IntelHex::read(
        [&file](char* buffer, std::int64_t capacity) { return file.read(buffer, capacity); }, image.get());
    if (!result.isComplete()) {
        check.problem = QStringLiteral("%1 is rejected: %2 (line %3)")
                            .arg(fileName, QLatin1String(IntelHex::statusText(result.status)))
                            .arg(result.line);
        return check;
    }
    if (result.isCutShort()) {
        check.problem = QStringLiteral("%1 is rejected: it is cut short, %2")
                            .arg(fileName, QString::fromStdString(IntelHex::cutShortText(result)));
        return check;
    }
    check.programSize = result.programSize;
    check.identifier = QString::fromStdString(IntelHex::findIdentifier(image.get(), IntelHex::ImageSize));
    if (check.programSize == 0)
        check.problem = QStringLiteral("%1 is rejected: it holds no program").arg(fileName);
    else if (check.identifier.isEmpty())
        check.problem = QStringLiteral("%1 is rejected: it holds no firmware identifier").arg(fileName);
    return check;
}
