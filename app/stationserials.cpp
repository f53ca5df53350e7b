#include "stationserials.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QTextStream>

namespace {

// Longer than any label's number, short enough for a tile and a column.
constexpr int MaxSerialLength = 64;
constexpr QLatin1Char CommentMark('#');

}

bool StationSerials::load(const QString& fileName, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the serial numbers in %1: %2").arg(fileName, file.errorString());
        return false;
    }
    QStringList numbers;
    QSet<QString> seen;
    QTextStream in(&file);
    for (int line = 1; !in.atEnd(); ++line) {
        const QString number = in.readLine().trimmed();
        if (number.isEmpty() || number.startsWith(CommentMark))
            continue;
        const QString problem = problemOf(number);
        if (!problem.isEmpty() || seen.contains(number)) {
            *error = QStringLiteral("%1, line %2: %3").arg(fileName).arg(line)
                         .arg(problem.isEmpty() ? QStringLiteral("%1 is listed twice").arg(number) : problem);
            return false;
        }
        seen.insert(number);
        numbers.append(number);
    }
    if (numbers.isEmpty()) {
        *error = QStringLiteral("%1 lists no serial number").arg(fileName);
        return false;
    }
    m_numbers = numbers;
    m_free.clear();
    for (int i = 0; i < m_numbers.size(); ++i)
        m_free.insert(i);
    return true;
}

QString StationSerials::take()
{
    if (m_free.empty())
        return QString();
    const int first = *m_free.begin();
    m_free.erase(m_free.begin());
    return m_numbers.at(first);
}

void StationSerials::giveBack(const QString& number)
{
    const int index = m_numbers.indexOf(number);
    if (index >= 0)
        m_free.insert(index);
}

QString StationSerials::problemOf(const QString& number)
{
    if (number.isEmpty())
        return QCoreApplication::translate("StationSerials", "No serial number.");
    if (number.size() > MaxSerialLength)
        return QCoreApplication::translate("StationSerials", "A serial number has at most %1 characters.")
            .arg(MaxSerialLength);
    for (const QChar c : number) {
        if (!c.isPrint())
            return QCoreApplication::translate("StationSerials", "A serial number holds printable characters only.");
    }
    return QString();
}
