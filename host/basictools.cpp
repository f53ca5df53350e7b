#include "basictools.h"

#include <QBuffer>
#include <QByteArray>

namespace BasicTools {

QString moduleTypeOf(const QString& version)
{
    for (int i = 0; i < version.size(); ++i) {
        const QChar c = version.at(i);
        if (c.isLetter() && !(i == 0 && c == QLatin1Char('C')))
            return version.left(i);
    }
    return QString();
}

QString matchFirmwareVersion(const QString& moduleVersion, const QString& fileVersion, unsigned int flags)
{
    Q_UNUSED(flags)
    const QString moduleType = moduleTypeOf(moduleVersion);
    if (moduleType.isEmpty() || moduleType != moduleTypeOf(fileVersion))
        return QString();
    return moduleType;
}

QString setPixmapToHtml(const QPixmap& pixmap, const QSize& size)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(&buffer, "PNG");
    return QStringLiteral("<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\">")
        .arg(QString::fromLatin1(png.toBase64()))
        .arg(size.width())
        .arg(size.height());
}

}
