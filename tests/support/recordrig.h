#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL server of a test's own: made by initdb in a temporary folder that the server's user
// owns (the server refuses to run as root), listening on a Unix socket there only, passwords required.
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

private:
    bool run(const QStringList& command);

    QTemporaryDir m_dir;
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
