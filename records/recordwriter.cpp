#include "recordwriter.h"

#include "recordkeeper.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRecords, "dux.records")

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
}

RecordWriter::~RecordWriter()
{
    stop();
    delete m_context;
}

void RecordWriter::write(const UpdateRecord& record)
{
    if (!m_thread.isRunning()) {
        keepOne(record);
        return;
    }
    QMetaObject::invokeMethod(m_context, [this, record] { keepOne(record); }, Qt::QueuedConnection);
}

void RecordWriter::flush()
{
    if (m_thread.isRunning())
        QMetaObject::invokeMethod(m_context, [] {}, Qt::BlockingQueuedConnection);
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

void RecordWriter::keepOne(UpdateRecord record)
{
    if (!m_keeper)
        m_keeper = std::make_unique<RecordKeeper>(m_location, m_spoolFile);
    if (record.fileSha256.isEmpty())
        record.fileSha256 = fileSha256(record.fileName);
    const RecordKeeper::Kept kept = m_keeper->keep(record);
    if (kept.message.isEmpty())
        return;
    qCWarning(lcRecords).noquote() << kept.message;
    emit said(kept.message);
}

QString RecordWriter::toolVersion()
{
    return QStringLiteral(DUX_RECORDS_TOOL_VERSION);
}

QString RecordWriter::fileSha256(const QString& fileName)
{
    QFile file(fileName);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}
