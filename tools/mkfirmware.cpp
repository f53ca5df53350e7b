// dux-mkfirmware: writes an Intel HEX firmware image for the simulated module, with a firmware
// identifier the update recognises. The build makes the demo's sample file with it.

#include "commandlinehelp.h"
#include "intelhexparser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

namespace {

constexpr const char* ProgramName = "dux-mkfirmware";
constexpr int ExitWritten = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr const char* Description =
    "Writes a firmware image as an Intel HEX file: filler bytes without decimal digits, and the firmware "
    "identifier at offset 0x200.";
constexpr const char* Epilogue =
    "\nExit status:\n"
    "  0  the file was written\n"
    "  1  the file could not be written\n"
    "  2  usage error\n";
// Where the identifier sits in the image: never at offset 0, where the scan does not look.
constexpr int IdentifierOffset = 0x200;
// Constants of the generator that fills the rest of the image (Numerical Recipes' LCG).
constexpr quint32 FillMultiplier = 1664525u;
constexpr quint32 FillIncrement = 1013904223u;
// Distance that moves an ASCII digit out of the digits.
constexpr char DigitShift = 0x20;

// Program bytes that look like code but hold no decimal digit, so that the identifier written into
// them is the only one a scan can find.
QByteArray fillerBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed;
    for (char& byte : bytes) {
        state = state * FillMultiplier + FillIncrement;
        byte = char(state >> 24);
        if (byte >= '0' && byte <= '9')
            byte = char(byte + DigitShift);
    }
    return bytes;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(Description));
    const QCommandLineOption helpOption = CommandLineHelp::helpOption();
    const QCommandLineOption versionOption = CommandLineHelp::versionOption();
    const QCommandLineOption identifierOption(QStringLiteral("identifier"),
                                              QStringLiteral("Firmware identifier written into the image, e.g. 1234V200."),
                                              QStringLiteral("identifier"), QStringLiteral("1234V200"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Program size in bytes."),
                                        QStringLiteral("bytes"), QStringLiteral("16384"));
    const QCommandLineOption baseOption(QStringLiteral("base"), QStringLiteral("Address of the first program byte."),
                                        QStringLiteral("address"), QStringLiteral("0"));
    const QCommandLineOption styleOption(QStringLiteral("style"),
                                         QStringLiteral("Upper address records: linear (type 04) or segment (type 02)."),
                                         QStringLiteral("style"), QStringLiteral("linear"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the filler bytes."),
                                        QStringLiteral("number"), QStringLiteral("1"));
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                          QStringLiteral("The HEX file to write."), QStringLiteral("file"));
    CommandLineHelp::addOptions(&parser, {helpOption, versionOption, identifierOption, sizeOption, baseOption, styleOption,
                                          seedOption, outputOption});
    CommandLineHelp::Request request = CommandLineHelp::Request::Run;
    QString error;
    if (!CommandLineHelp::parse(&parser, app.arguments(), helpOption, versionOption, &request, &error)) {
        err << "dux-mkfirmware: " << error << "\nTry 'dux-mkfirmware --help'." << Qt::endl;
        return ExitUsage;
    }
    if (request != CommandLineHelp::Request::Run) {
        out << (request == CommandLineHelp::Request::Help
                    ? CommandLineHelp::helpText(parser, ProgramName, "[options]") + QLatin1String(Epilogue)
                    : CommandLineHelp::versionText(ProgramName, DUX_VERSION));
        return ExitWritten;
    }

    const QString identifier = parser.value(identifierOption);
    bool sizeOk = false;
    bool baseOk = false;
    bool seedOk = false;
    const int size = parser.value(sizeOption).toInt(&sizeOk, 0);
    const quint32 base = parser.value(baseOption).toUInt(&baseOk, 0);
    const quint32 seed = parser.value(seedOption).toUInt(&seedOk, 0);
    const QString style = parser.value(styleOption);
    const int leastSize = IdentifierOffset + IntelHex::IdentifierLength;
    // Each usage error says what is wrong with which option, the first one found.
    QString problem;
    if (!parser.positionalArguments().isEmpty())
        problem = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
    else if (identifier.size() != IntelHex::IdentifierLength || !identifier.contains(QRegularExpression(QStringLiteral("\\d"))))
        problem = QStringLiteral("the identifier must have %1 characters, e.g. 1234V200").arg(IntelHex::IdentifierLength);
    else if (!sizeOk || size < leastSize || size > IntelHex::ImageSize)
        problem = QStringLiteral("--size takes a number of bytes from %1 to %2, not \"%3\"")
                      .arg(leastSize)
                      .arg(IntelHex::ImageSize)
                      .arg(parser.value(sizeOption));
    else if (!baseOk)
        problem = QStringLiteral("--base takes an address (decimal, or hexadecimal with 0x), not \"%1\"").arg(parser.value(baseOption));
    else if (!seedOk)
        problem = QStringLiteral("--seed takes a whole number, not \"%1\"").arg(parser.value(seedOption));
    else if (style != QLatin1String("linear") && style != QLatin1String("segment"))
        problem = QStringLiteral("--style takes linear or segment, not \"%1\"").arg(style);
    else if (!parser.isSet(outputOption))
        problem = QStringLiteral("--output is needed: the HEX file to write");
    if (!problem.isEmpty()) {
        err << "dux-mkfirmware: " << problem << "\nTry 'dux-mkfirmware --help'." << Qt::endl;
        return ExitUsage;
    }

    QByteArray image = fillerBytes(size, seed);
    image.replace(IdentifierOffset, IntelHex::IdentifierLength, identifier.toLatin1());
    const QByteArray hex = QByteArray::fromStdString(
        IntelHex::write(reinterpret_cast<const unsigned char*>(image.constData()), size, base,
                        style == QLatin1String("linear") ? IntelHex::AddressStyle::Linear
                                                         : IntelHex::AddressStyle::Segment));
    if (hex.isEmpty()) {
        err << "dux-mkfirmware: the image does not fit the " << style << " address style at that base" << Qt::endl;
        return ExitUsage;
    }
    QSaveFile file(parser.value(outputOption));
    if (!file.open(QIODevice::WriteOnly) || file.write(hex) != hex.size() || !file.commit()) {
        err << "dux-mkfirmware: cannot write " << parser.value(outputOption) << ": " << file.errorString() << Qt::endl;
        return ExitFailure;
    }
    return ExitWritten;
}
