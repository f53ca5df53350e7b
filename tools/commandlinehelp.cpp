#include "commandlinehelp.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace CommandLineHelp {

bool parse(QCommandLineParser* parser, const QStringList& arguments, const QCommandLineOption& help,
           const QCommandLineOption& version, Request* request, QString* error)
{
    *request = Request::Run;
    if (!parser->parse(arguments)) {
        *error = parser->errorText();
        return false;
    }
    if (parser->isSet(help))
        *request = Request::Help;
    else if (parser->isSet(version))
        *request = Request::Version;
    return true;
}

void addOptions(QCommandLineParser* parser, QList<QCommandLineOption> options)
{
    for (QCommandLineOption& option : options) {
        if (!option.defaultValues().isEmpty())
            option.setDescription(option.description()
                                  + QStringLiteral(" Default: %1.").arg(option.defaultValues().join(QLatin1Char(','))));
    }
    parser->addOptions(options);
}

QString helpText(const QCommandLineParser& parser, const char* program, const char* usage)
{
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')),
                 QStringLiteral("Usage: %1 %2").arg(QLatin1String(program), QLatin1String(usage)));
    return text;
}

QString versionText(const char* program, const char* version)
{
    return QStringLiteral("%1 %2\n").arg(QLatin1String(program), QLatin1String(version));
}

QCommandLineOption helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end."));
}

QCommandLineOption versionOption()
{
    return QCommandLineOption(QStringLiteral("version"), QStringLiteral("Show the version and end."));
}

}
