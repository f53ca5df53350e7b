#pragma once

#include <QList>

class QCommandLineOption;
class QCommandLineParser;
class QString;
class QStringList;

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

}
