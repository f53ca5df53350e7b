#include "console.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* OwnCategoryPrefix = "dux.";

QFile& errorFile()
{
    static QFile file;
    return file;
}

// -q: only critical messages; a warning (a port that went away as a module re-plugs) is no result.
bool& warningsShown()
{
    static bool shown = true;
    return shown;
}

void ownWarningsOnly(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || (type == QtWarningMsg && !warningsShown()) || !context.category
        || std::strncmp(context.category, OwnCategoryPrefix, std::strlen(OwnCategoryPrefix)) != 0)
        return;
    Console::err() << "dux-host: " << message << Qt::endl;
}

}

namespace Console {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(&errorFile());
    if (!errorFile().isOpen())
        errorFile().open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return stream;
}

int errorDescriptor()
{
    return errorFile().isOpen() ? errorFile().handle() : STDERR_FILENO;
}

void writeAll(int descriptor, const QByteArray& bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0)
            return;
        written += chunk;
    }
}

bool outputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

void routeMessages(bool debugOutput, bool warnings)
{
    warningsShown() = warnings;
    if (debugOutput)
        return;
    QFile& file = errorFile();
    file.close();
    const int ownError = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    file.open(ownError, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nothing >= 0) {
        dup2(nothing, STDERR_FILENO);
        ::close(nothing);
    }
    qInstallMessageHandler(ownWarningsOnly);
}

}
