#include "runlog.h"

#include "console.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Who else may read it is the umask's business, as for any file the user creates.
constexpr mode_t NewFileMode = 0666;
}

RunLog::~RunLog()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool RunLog::open(const QString& path)
{
    // O_APPEND: each write lands whole at the end, also beside another run logging to the same file.
    m_descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, NewFileMode);
    if (m_descriptor < 0)
        m_errorString = QString::fromLocal8Bit(std::strerror(errno));
    return m_descriptor >= 0;
}

void RunLog::append(const QString& text, const QString& prefix) const
{
    if (m_descriptor < 0)
        return;
    QString lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines += prefix + line + QLatin1Char('\n');
    Console::writeAll(m_descriptor, lines.toUtf8());
}
