#include "recordrig.h"

#include "recordkeeper.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <unistd.h>

namespace {

constexpr const char* ServerBin = "/usr/lib/postgresql/15/bin/";
constexpr const char* ServerUser = "postgres";
constexpr int CommandTimeoutMs = 60000;

}

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    if (m_made)
        stop();
}

bool PgServer::run(const QStringList& command)
{
    QStringList arguments = command;
    QString program = QLatin1String(ServerBin) + arguments.takeFirst();
    // As root the server's tools run as its own user.
    if (geteuid() == 0) {
        arguments = QStringList{QStringLiteral("-u"), QLatin1String(ServerUser), QStringLiteral("--"), program} + arguments;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(CommandTimeoutMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    m_error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                              QString::fromLocal8Bit(process.readAll()));
    return false;
}

bool PgServer::start()
{
    if (!m_dir.isValid())
        return false;
    const QString dir = m_dir.path();
    if (!m_made) {
        QFile passwordFile(dir + QStringLiteral("/password"));
        if (!passwordFile.open(QIODevice::WriteOnly) || passwordFile.write(Password) < 0)
            return false;
        passwordFile.close();
        if (geteuid() == 0 && QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QLatin1String(ServerUser), dir}) != 0)
            return false;
        if (!run({QStringLiteral("initdb"), QStringLiteral("-D"), dir + QStringLiteral("/data"), QStringLiteral("-U"),
                  QLatin1String(User), QStringLiteral("--auth=scram-sha-256"),
                  QStringLiteral("--pwfile=") + passwordFile.fileName()}))
            return false;
        m_made = true;
    }
    return run({QStringLiteral("pg_ctl"), QStringLiteral("-D"), dir + QStringLiteral("/data"), QStringLiteral("-l"),
                dir + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("-o"),
                QStringLiteral("-k %1 -c listen_addresses=''").arg(dir), QStringLiteral("start")});
}

bool PgServer::stop()
{
    return run({QStringLiteral("pg_ctl"), QStringLiteral("-D"), m_dir.path() + QStringLiteral("/data"),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
}

QString PgServer::location(const QString& password) const
{
    return QStringLiteral("postgresql://%1:%2@/postgres?host=%3").arg(QLatin1String(User), password, m_dir.path());
}

int RecordRig::writeRecords(const QString& location, const QString& spoolFile, const QString& module, int count)
{
    RecordKeeper keeper(location, spoolFile);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        UpdateRecord record;
        record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        record.startedUtc = QDateTime::currentDateTimeUtc();
        record.moduleKey = module;
        record.result = UpdateRecord::Result::Updated;
        record.durationMs = i;
        for (int send = 0; send < 2; ++send) {
            if (!keeper.keep(record).kept)
                ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

RecordRig::Counts RecordRig::countRows(const QString& location)
{
    Counts counts;
    RecordStore store(location);
    if (!store.open())
        return counts;
    QSqlQuery query(store.database());
    if (query.exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT id) FROM update_records")) && query.next())
        counts = {query.value(0).toInt(), query.value(1).toInt()};
    return counts;
}
