#include "recordrig.h"

#include "recordkeeper.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QElapsedTimer>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr const char* ServerBin = "/usr/lib/postgresql/15/bin/";
constexpr const char* ServerUser = "postgres";
constexpr int CommandTimeoutMs = 60000;
// How often the server's pid file is read while it starts.
constexpr int ReadyPollMs = 50;
// The server's line in its pid file once it takes connections.
constexpr const char* ReadyStatus = "ready";
// Its line in the pid file, counted from 0.
constexpr int PidFileStatusLine = 7;
// What the server gets when the test dies: an immediate shutdown that takes its backends with it.
constexpr int ParentDeathSignal = SIGQUIT;

}

void PgServer::ServerProcess::setupChildProcess()
{
    // Only async-signal-safe calls here: this runs in the child between fork and exec.
    if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
        ::_exit(1);
    // After setuid: a change of user clears the parent-death signal.
    if (parentDeath)
        ::prctl(PR_SET_PDEATHSIG, ParentDeathSignal);
}

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    stop();
}

bool PgServer::run(const QStringList& command)
{
    QStringList arguments = command;
    ServerProcess process;
    // The server refuses to run as root: its tools run as its own user.
    if (geteuid() == 0) {
        const passwd* user = ::getpwnam(ServerUser);
        if (!user) {
            m_error = QStringLiteral("no user %1").arg(QLatin1String(ServerUser));
            return false;
        }
        process.uid = user->pw_uid;
        process.gid = user->pw_gid;
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QLatin1String(ServerBin) + arguments.takeFirst(), arguments);
    if (process.waitForFinished(CommandTimeoutMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    m_error = QStringLiteral("%1: %2").arg(command.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()));
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
    if (geteuid() == 0) {
        const passwd* user = ::getpwnam(ServerUser);
        m_server.uid = user->pw_uid;
        m_server.gid = user->pw_gid;
    }
    // In the foreground, as the test's child: a daemon started by pg_ctl would outlive a killed test.
    m_server.parentDeath = true;
    m_server.setStandardOutputFile(dir + QStringLiteral("/server.log"), QIODevice::Append);
    m_server.setStandardErrorFile(dir + QStringLiteral("/server.log"), QIODevice::Append);
    m_server.start(QLatin1String(ServerBin) + QStringLiteral("postgres"),
                   {QStringLiteral("-D"), dir + QStringLiteral("/data"), QStringLiteral("-k"), dir,
                    QStringLiteral("-c"), QStringLiteral("listen_addresses=")});
    return waitUntilReady();
}

bool PgServer::waitUntilReady()
{
    QElapsedTimer clock;
    clock.start();
    QFile pidFile(m_dir.path() + QStringLiteral("/data/postmaster.pid"));
    while (clock.elapsed() < CommandTimeoutMs) {
        if (m_server.state() == QProcess::NotRunning || m_server.waitForFinished(ReadyPollMs))
            break;
        if (pidFile.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = pidFile.readAll().split('\n');
            pidFile.close();
            if (lines.size() > PidFileStatusLine && lines.at(PidFileStatusLine).trimmed() == ReadyStatus)
                return true;
        }
    }
    QFile log(m_dir.path() + QStringLiteral("/server.log"));
    m_error = QStringLiteral("the server did not start: %1").arg(log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : m_server.errorString());
    return false;
}

bool PgServer::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return true;
    // A fast shutdown: the test's own connections need not close first.
    ::kill(pid_t(m_server.processId()), SIGINT);
    return m_server.waitForFinished(CommandTimeoutMs);
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
