#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The --help and --version texts of the project's command-line programs, made the same way for each.
namespace CommandLineHelp {

// What a command line asks for before anything runs.
enum class Request { Run, Help, Version };

// Reads `arguments` into `parser`, whose options include `help` and `version`. Returns whether they
// could be read (else `error` says why) and stores in `request` whether help or the version is asked for.
bool parse(QCommandLineParser* parser, const QStringList& arguments, const QCommandLineOption& help,
           const QCommandLineOption& version, Request* request, QString* error);
// Adds `options`, each description followed by its default value, which Qt's help text leaves out.
void addOptions(QCommandLineParser* parser, QList<QCommandLineOption> options);
// Qt's help text with the usage line "Usage: PROGRAM USAGE" (Qt names the program by the path it was
// started with). Needs a QCoreApplication.
QString helpText(const QCommandLineParser& parser, const char* program, const char* usage);
// "PROGRAM VERSION" and a line end.
QString versionText(const char* program, const char* version);
// The options -h/--help and --version.
QCommandLineOption helpOption();
QCommandLineOption versionOption();

// How a program names itself in its --help and --version texts.
struct ProgramTexts
{
    const char* name;
    // The usage line after the name.
    const char* usage;
    // What --help prints after the options.
    const char* epilogue;
    const char* version;
};

// What a program's options are, or why its command line could not be read.
template<typename Options>
struct Parsed
{
    Options options;
    QString error;
    // The text that --help or --version (`options.request`) asks for. Needs a QCoreApplication.
    std::function<QString()> requestText;
};

// The one scaffold of a program whose options are an option table: `Table` holds `help` and `version`
// and adds all its options to a parser with addTo(); `Options` has a `request`. `read(parser, table,
// options, error)` reads the rest of a command line that asks to run, and on a usage error names it.
template<typename Options, typename Table, typename Read>
Parsed<Options> parseWith(const QStringList& arguments, const ProgramTexts& texts, Read read)
{
    Parsed<Options> parsed;
    QCommandLineParser parser;
    const Table table;
    table.addTo(&parser);
    if (!parse(&parser, arguments, table.help, table.version, &parsed.options.request, &parsed.error))
        return parsed;
    if (parsed.options.request == Request::Run) {
        read(parser, table, parsed.options, parsed.error);
        return parsed;
    }
    const bool help = parsed.options.request == Request::Help;
    parsed.requestText = [texts, help] {
        if (!help)
            return versionText(texts.name, texts.version);
        QCommandLineParser helpParser;
        const Table helpTable;
        helpTable.addTo(&helpParser);
        return helpText(helpParser, texts.name, texts.usage) + QLatin1String(texts.epilogue);
    };
    return parsed;
}

}
