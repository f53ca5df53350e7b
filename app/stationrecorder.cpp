#include "stationrecorder.h"

#include "recordkeeper.h"
#include "recordwriter.h"

#include <QDateTime>

StationRecorder::StationRecorder(const QString& station, const QString& operatorName)
    : m_station(station)
    , m_operatorName(operatorName)
    , m_writer(std::make_unique<RecordWriter>(RecordKeeper::configuredLocation(), RecordKeeper::localFile()))
{
}

StationRecorder::~StationRecorder() = default;

void StationRecorder::recordStop(const QString& reason, int fixture, const QString& fileName,
                                 const QString& fileIdentifier)
{
    write(true, reason, fixture, fileName, fileIdentifier);
}

void StationRecorder::recordRestart()
{
    write(false, QString(), 0, QString(), QString());
}

bool StationRecorder::flush(int waitMs)
{
    return m_writer->flush(waitMs);
}

void StationRecorder::write(bool stopped, const QString& reason, int fixture, const QString& fileName,
                            const QString& fileIdentifier)
{
    UpdateRecord record = RecordWriter::newRecord();
    record.startedUtc = QDateTime::currentDateTimeUtc();
    record.durationMs = 0;
    record.setStation(m_station, m_operatorName);
    record.result = stopped ? UpdateRecord::Result::LineStopped : UpdateRecord::Result::LineRestarted;
    record.failureText = reason;
    record.fixture = fixture > 0 ? QString::number(fixture) : QString();
    record.fileName = fileName;
    record.fileIdentifier = fileIdentifier;
    m_writer->write(record);
}
