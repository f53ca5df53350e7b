#include "recordwriter.h"

#include "recordkeeper.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QSysInfo>
#include <QUuid>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcRecords, "dux.records")

namespace {

// The writers alive in this copy of the library (the plug-in has its own): stopped when the
// application object goes.
struct LiveWriters
{
    QMutex mutex;
    QSet<RecordWriter*> writers;
};

LiveWriters& liveWriters()
{
    static LiveWriters live;
    return live;
}

// The shared writers by their records (location and spool): held weakly, so that the last holder ends one.
struct SharedWriters
{
    QMutex mutex;
    QHash<QPair<QString, QString>, std::weak_ptr<RecordWriter>> writers;
};

SharedWriters& sharedWriters()
{
    static SharedWriters shared;
    return shared;
}

QString lookUpOperatorName()
{
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
#ifdef Q_OS_UNIX
    // Services and containers often run without a login environment.
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    return QString();
}

}

RecordWriter::RecordWriter(const QString& location, const QString& spoolFile, QObject* parent)
    : QObject(parent)
    , m_location(location)
    , m_spoolFile(spoolFile)
    , m_context(new QObject)
{
    m_thread.setObjectName(QStringLiteral("records"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &RecordWriter::stop);
    LiveWriters& live = liveWriters();
    QMutexLocker lock(&live.mutex);
    // Registered while a writer lives only: the plug-in's copy of this code may be unloaded after.
    if (live.writers.isEmpty())
        qAddPostRoutine(&RecordWriter::stopAll);
    live.writers.insert(this);
}

RecordWriter::~RecordWriter()
{
    {
        LiveWriters& live = liveWriters();
        QMutexLocker lock(&live.mutex);
        live.writers.remove(this);
        if (live.writers.isEmpty())
            qRemovePostRoutine(&RecordWriter::stopAll);
    }
    stop();
    delete m_context;
}

std::shared_ptr<RecordWriter> RecordWriter::shared(const QString& location, const QString& spoolFile)
{
    SharedWriters& shared = sharedWriters();
    QMutexLocker lock(&shared.mutex);
    std::weak_ptr<RecordWriter>& slot = shared.writers[qMakePair(location, spoolFile)];
    std::shared_ptr<RecordWriter> writer = slot.lock();
    if (!writer) {
        writer = std::make_shared<RecordWriter>(location, spoolFile);
        slot = writer;
    }
    return writer;
}

void RecordWriter::stopAll()
{
    LiveWriters& live = liveWriters();
    QMutexLocker lock(&live.mutex);
    // The writer's thread runs its own event loop: stopping needs no turn of the application's.
    for (RecordWriter* writer : qAsConst(live.writers))
        writer->stop();
    live.writers.clear();
}

void RecordWriter::write(const UpdateRecord& record, bool final)
{
    if (!m_thread.isRunning()) {
        keepOne(record, final);
        return;
    }
    {
        QMutexLocker lock(&m_pendingMutex);
        Pending& pending = m_pending[record.id];
        pending.record = record;
        pending.final = pending.final || final;
    }
    QMetaObject::invokeMethod(m_context, [this, id = record.id] { keepNewest(id); }, Qt::QueuedConnection);
}

bool RecordWriter::flush(int waitMs)
{
    if (!m_thread.isRunning())
        return true;
    // Shared: a wait that gives up leaves the semaphore to the call still queued.
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(m_context, [done] { done->release(); }, Qt::QueuedConnection);
    return done->tryAcquire(1, waitMs);
}

void RecordWriter::stop()
{
    if (!m_thread.isRunning())
        return;
    // Queued behind the records handed over: they are kept first. The connections close on their thread.
    QMetaObject::invokeMethod(m_context, [this] {
        m_keeper.reset();
        m_thread.quit();
    }, Qt::QueuedConnection);
    m_thread.wait();
}

void RecordWriter::keepNewest(const QString& id)
{
    Pending pending;
    {
        QMutexLocker lock(&m_pendingMutex);
        if (!m_pending.contains(id))
            return;
        pending = m_pending.take(id);
    }
    keepOne(pending.record, pending.final);
}

void RecordWriter::keepOne(UpdateRecord record, bool final)
{
    if (!m_keeper)
        m_keeper = std::make_unique<RecordKeeper>(m_location, m_spoolFile);
    if (record.fileSha256.isEmpty())
        record.fileSha256 = fileSha256(record.fileName);
    const RecordKeeper::Kept kept = m_keeper->keep(record, final);
    if (kept.message.isEmpty())
        return;
    qCWarning(lcRecords).noquote() << kept.message;
    emit said(record.id, kept.message);
}

UpdateRecord RecordWriter::newRecord()
{
    // Looked up once: each phase of an update makes a record, on the worker's thread.
    static const QString station = QSysInfo::machineHostName();
    static const QString operatorName = lookUpOperatorName();
    UpdateRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.toolVersion = toolVersion();
    record.station = station;
    record.operatorName = operatorName;
    return record;
}

QString RecordWriter::toolVersion()
{
    return QStringLiteral(DUX_RECORDS_TOOL_VERSION);
}

QString RecordWriter::fileSha256(const QString& fileName)
{
    QFile file(fileName);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // A refused "file" may be a FIFO or a device, whose reading would never end.
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}
