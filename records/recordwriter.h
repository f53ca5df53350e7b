#pragma once

#include "updaterecord.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <memory>

class RecordKeeper;

// Writes records on a thread of its own, so that an update never waits for a database, and says what
// could not be kept. Records handed over are kept in the order given; the writer finishes them before
// it goes: at its destruction, when the event loop ends, and at the latest when the application object
// goes, so that a process that ends right after an update (a writer nobody deletes) keeps its record.
class RecordWriter : public QObject
{
    Q_OBJECT
public:
    // `location` as RecordKeeper::configuredLocation() gives it; the spool is the local file.
    explicit RecordWriter(const QString& location, const QString& spoolFile, QObject* parent = nullptr);
    ~RecordWriter() override;

    // The one writer of the process for these records, shared by every plug-in instance and dux-host's
    // own records (sixteen modules, one thread): it lives while someone holds it, finishes its records as
    // the last holder lets go, and is stopped with the others as the application object goes.
    static std::shared_ptr<RecordWriter> shared(const QString& location, const QString& spoolFile);

    // Returns at once; the SHA-256 of the record's file is added on the writer's thread when missing.
    // `final` as RecordKeeper::keep.
    void write(const UpdateRecord& record, bool final = true);
    // Waits up to `waitMs` until every record handed over is kept, spooled or said; false when they
    // were not by then. Not from the writer's thread.
    bool flush(int waitMs);
    // Finishes the records handed over and ends the thread; later ones are kept on the caller's thread.
    void stop();

    // A record of an attempt made here: a new id, the tool's version, the station and the operator.
    static UpdateRecord newRecord();
    static QString toolVersion();
    static QString fileSha256(const QString& fileName);

signals:
    // A record (`id`) that is lost, or that waits for the server: said once, also on stderr.
    void said(QString id, QString text);

private:
    struct Pending
    {
        UpdateRecord record;
        bool final = false;
    };
    // Keeps the newest record handed over under `id`, unless an earlier call kept it already.
    void keepNewest(const QString& id);
    void keepOne(UpdateRecord record, bool final);
    // Stops the writers still alive as the application object goes.
    static void stopAll();

    QString m_location;
    QString m_spoolFile;
    QThread m_thread;
    // Lives on m_thread; the queued calls that run there are its.
    QObject* m_context = nullptr;
    // Made and used on m_thread only: database connections belong to the thread that opened them.
    std::unique_ptr<RecordKeeper> m_keeper;
    // An update's record is handed over at each phase: while the writer waits (a locked file), the
    // newer ones of a run replace the older ones, so that its final record is not held behind them.
    QMutex m_pendingMutex;
    QHash<QString, Pending> m_pending;
};
