#include "recordkeeper.h"

#include "appsettings.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr const char* SpoolSuffix = ".spool";

constexpr const char* LocalFileName = "records.sqlite";
// Spooled records read per round while draining: bounds the memory of a long outage's backlog.
constexpr int DrainBatch = 100;

QString lostText(const UpdateRecord& record, const QString& problem)
{
    return QStringLiteral("The record of this update (%1, %2, %3) is not kept: %4.")
        .arg(record.moduleKey.isEmpty() ? QStringLiteral("no module") : record.moduleKey,
             UpdateRecord::resultName(record.result), record.id, problem);
}

}

QString RecordKeeper::configuredLocation(const QString& chosen)
{
    if (!chosen.isEmpty())
        return chosen;
    const QString variable = qEnvironmentVariable(LocationVariable);
    if (!variable.isEmpty())
        return variable;
    const QString setting = AppSettings().value(QLatin1String(LocationSetting)).toString();
    return setting.isEmpty() ? localFile() : setting;
}

QString RecordKeeper::localFile()
{
    return QDir(AppSettings::homePath()).filePath(QLatin1String(LocalFileName));
}

RecordKeeper::RecordKeeper(const QString& location, const QString& spoolFile)
    : m_target(location)
    , m_spool(RecordStore::isServerLocation(location) ? spoolFile : spoolBeside(location))
{
}

QString RecordKeeper::spoolBeside(const QString& location)
{
    return RecordStore::sqliteFile(location) + QLatin1String(SpoolSuffix);
}

RecordKeeper::Kept RecordKeeper::keep(const UpdateRecord& record, bool final)
{
    if (drainFirst() && m_target.insert(record)) {
        m_serverDown = false;
        return {true, QString()};
    }
    const QString problem = m_target.errorString();
    const bool locked = m_target.wasBusy();
    // A fresh connection next time: the server may be back, the file free, by then.
    m_target.close();
    if (!m_target.isServer() && !locked)
        return lost(record, problem, final);
    return spooled(record, problem, final);
}

RecordKeeper::Kept RecordKeeper::spooled(const UpdateRecord& record, const QString& problem, bool final)
{
    if (m_spool.spool(record)) {
        const bool firstInOutage = !m_serverDown;
        m_serverDown = true;
        if (!firstInOutage)
            return {true, QString()};
        return {true, m_target.isServer()
                          ? QStringLiteral("Records: %1; they wait in %2 until the server answers.")
                                .arg(problem, m_spool.displayName())
                          : QStringLiteral("Records: %1 (another program holds it locked); they wait in %2 until it "
                                           "is free.")
                                .arg(problem, m_spool.displayName())};
    }
    const QString spoolProblem = m_spool.errorString();
    m_spool.close();
    return lost(record, problem + QStringLiteral("; ") + spoolProblem, final);
}

bool RecordKeeper::drainFirst()
{
    if (!m_target.isServer() && !QFileInfo::exists(RecordStore::sqliteFile(m_spool.location())))
        return true;
    return drain();
}

RecordKeeper::Kept RecordKeeper::lost(const UpdateRecord& record, const QString& problem, bool final)
{
    if (!final || record.id == m_lostId)
        return {false, QString()};
    m_lostId = record.id;
    return {false, lostText(record, problem)};
}

bool RecordKeeper::drain()
{
    for (;;) {
        bool readable = false;
        const QVector<RecordStore::Spooled> batch = m_spool.spooled(DrainBatch, &readable);
        if (!readable || batch.isEmpty())
            return true;
        for (const RecordStore::Spooled& spooled : batch) {
            if (!m_target.insert(spooled.second))
                return false;
            // A record that stays in the spool is sent again later, which its id makes harmless; but
            // this round stops, or it would read it again and again.
            if (!m_spool.unspool(spooled.first))
                return true;
        }
    }
}
