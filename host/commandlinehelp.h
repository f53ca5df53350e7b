#pragma once

#include <QList>

class QCommandLineOption;
class QCommandLineParser;
class QString;

// The --help and --version texts of the project's command-line programs, made the same way for each.
namespace CommandLineHelp {

// Adds `options`, each description followed by its default value, which Qt's help text leaves out.
void addOptions(QCommandLineParser* parser, QList<QCommandLineOption> options);
// Qt's help text with the usage line "Usage: PROGRAM USAGE" (Qt names the program by the path it was
// started with). Needs a QCoreApplication.
QString helpText(const QCommandLineParser& parser, const char* program, const char* usage);
// "PROGRAM VERSION" and a line end.
QString versionText(const char* program, const char* version);

}
