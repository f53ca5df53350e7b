#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVector>

// One ended update attempt as everyone tells it: the plug-in's outcome, dux-host's result and the
// record each add their own around this value, and its JSON object is the one all of dux-host's JSON
// outputs share. Texts that are empty and a duration below 0 are not known (null).
struct EndedUpdate
{
    // Records hold the first eight (isRecorded). TimedOut, Planned, Verified, Differs and ReadBack are
    // dux-host's: its time-out, --dry-run and --verify, --read-back. Resumed: updated, the write going on where an
    // earlier one ended, without an erase. LineStopped, LineRestarted: a station's line stop and the
    // acknowledgement that starts it again, kept among the updates so that a line's history reads in one
    // order.
    enum class Result { Updated, Failed, Interrupted, Skipped, NotStarted, Resumed, LineStopped, LineRestarted,
                        TimedOut, Planned, Verified, Differs, ReadBack };

    // The version of every JSON object dux-host prints; a consumer checks it before it reads the fields.
    static constexpr int JsonSchema = 2;

    Result result = Result::NotStarted;
    QDateTime startedUtc;
    qint64 durationMs = -1;
    QString moduleKey;
    QString fileName;
    QString fileIdentifier;
    // What the module ran before, and what it answered after (empty: it could not be asked).
    QString firmwareBefore;
    QString firmwareAfter;
    // The last phase reached; empty before the update started.
    QString phase;
    QString failureText;
    // What the run did to the flash: program bytes written, the flash words the write phase kept in
    // flight (0: it did not start), a verify's pages whose sums differ from the file's, and what a
    // read-back of its whole range read, from readBase on.
    qint64 bytes = 0;
    int window = 0;
    QVector<quint32> differingPages;
    QByteArray readBytes;
    quint32 readBase = 0;

    // "updated", "failed", "interrupted", ..., "read back".
    static QString resultName(Result result);
    // False for a name that is no result.
    static bool resultFromName(const QString& name, Result* result);
    // Whether records hold `result`: a time-out is recorded as the failure it is, and a plan, a verify or
    // a read-back leaves no record.
    static bool isRecorded(Result result) { return result <= Result::LineRestarted; }
    // A firmware file as every output and record names it: its absolute path (empty: none), so that a
    // record read from another folder still names it.
    static QString filePath(const QString& given);
    // ISO 8601 with milliseconds and Z, so that text order is time order.
    static QString timeText(const QDateTime& utc);
    // A module's key and its parts, as every JSON object names a module: `module`, `port`, `type`,
    // `address` (the key's texts; null when the key has none).
    static QJsonObject moduleJson(const QString& moduleKey);
    // The fields every ended update has, under the names all JSON outputs use.
    QJsonObject toJson() const;
};
