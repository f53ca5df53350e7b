#include "valuefieldwidths.h"
#include "ui_firmwareupdate.h"

#include "intelhexparser.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QString>

namespace {
// QLineEdit's size hint is this many 'x' wide plus its frame and margins.
constexpr int LineEditHintCharacters = 17;
// Stands for any digit (hexadecimal ones included: in proportional fonts none of a-f is wider), and for
// the widest letter of a firmware version, which sits after its four-digit type code.
constexpr char WideDigit = '8';
constexpr char WideVersionLetter = 'W';
constexpr int VersionLetterPosition = 4;
constexpr int ChecksumDigits = 2 * int(sizeof(quint32));

void reserveWidth(QLineEdit* field, const QString& widestValue)
{
    const QFontMetrics metrics = field->fontMetrics();
    const int chrome = field->sizeHint().width() - LineEditHintCharacters * metrics.horizontalAdvance(QLatin1Char('x'));
    field->setMinimumWidth(metrics.horizontalAdvance(widestValue) + chrome);
}
}

void reserveValueFieldWidths(Ui::FirmwareUpdate* form)
{
    QString version(IntelHex::IdentifierLength, QLatin1Char(WideDigit));
    version[VersionLetterPosition] = QLatin1Char(WideVersionLetter);
    reserveWidth(form->leSize, QString(QString::number(IntelHex::ImageSize).size(), QLatin1Char(WideDigit)));
    reserveWidth(form->leChecksum, QStringLiteral("0x") + QString(ChecksumDigits, QLatin1Char(WideDigit)));
    for (QLineEdit* field : {form->leVersion, form->leHexVersion, form->leModuleVersion, form->leActualFirmware})
        reserveWidth(field, version);
}
