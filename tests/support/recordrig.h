#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

// A PostgreSQL server of a test's own: made by initdb in a temporary folder that the server's user
// owns (the server refuses to run as root), listening on a Unix socket there only, passwords required.
// The server is a child of the test that the kernel stops when the test dies, however it dies: a killed
// run leaves no server behind.
class PgServer
{
public:
    static constexpr const char* User = "dux";
    static constexpr const char* Password = "dux-secret";

    PgServer();
    ~PgServer();

    // Makes the cluster on the first call; false with errorString() when the server did not start.
    bool start();
    bool stop();
    // The records location of the server, with `password`.
    QString location(const QString& password = QLatin1String(Password)) const;
    QString errorString() const { return m_error; }

    // The server's process id, 0 when it is not running.
    qint64 pid() const { return m_server.processId(); }

private:
    // Runs the server's own user's processes; the server itself gets the parent-death signal.
    class ServerProcess : public QProcess
    {
    public:
        uid_t uid = 0;
        gid_t gid = 0;
        bool parentDeath = false;

    protected:
        void setupChildProcess() override;
    };

    bool run(const QStringList& command);
    bool waitUntilReady();

    QTemporaryDir m_dir;
    ServerProcess m_server;
    bool m_made = false;
    QString m_error;
};

namespace RecordRig {

// Writes `count` records of module `module` through a RecordKeeper, each one a second time after it
// was kept (which must change nothing); returns 0 when every record was kept (or spooled).
int writeRecords(const QString& location, const QString& spoolFile, const QString& module, int count);
// The records' rows and their distinct ids in `location`'s table.
struct Counts
{
    int rows = -1;
    int distinct = -1;
};
Counts countRows(const QString& location);

}
