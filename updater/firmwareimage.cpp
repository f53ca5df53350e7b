#include "firmwareimage.h"

#include <QFile>

FirmwareImage FirmwareImage::load(const QString& fileName)
{
    FirmwareImage image;
    image.m_bytes = QByteArray(IntelHex::ImageSize, Qt::Uninitialized);
    image.m_load = IntelHex::loadFile(QFile::encodeName(fileName).toStdString(),
                                      reinterpret_cast<unsigned char*>(image.m_bytes.data()));
    image.m_problem = QString::fromStdString(IntelHex::problemText(fileName.toStdString(), image.m_load));
    image.m_warning = QString::fromStdString(IntelHex::overlapText(fileName.toStdString(), image.m_load.read));
    if (image.m_problem.isEmpty() && image.m_load.identifier.empty())
        image.m_problem = QStringLiteral("%1 holds no firmware identifier").arg(fileName);
    return image;
}

FirmwareImage FirmwareImage::withoutProgram(const QString& problem) const
{
    FirmwareImage image;
    image.m_bytes = m_bytes;
    image.m_load.read.checksum = m_load.read.checksum;
    image.m_load.identifier = m_load.identifier;
    image.m_problem = problem;
    return image;
}

const unsigned char* FirmwareImage::bytes() const
{
    return m_bytes.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(m_bytes.constData());
}
