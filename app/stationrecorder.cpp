#include "stationrecorder.h"

#include "recordkeeper.h"
#include "recordwriter.h"

#include <QDateTime>

StationRecorder::StationRecorder(const QString& station, const QString& operatorName)
    : m_station(station)
    , m_operatorName(operatorName)
    , m_writer(RecordWriter::shared(RecordKeeper::configuredLocation(), RecordKeeper::localFile()))
{
}

StationRecorder::~StationRecorder() = default;

void StationRecorder::recordStop(const QString& reason, int fixture, const QString& fileName,
                                 const QString& fileIdentifier)
{
    UpdateRecord record = newRecord(UpdateRecord::Result::LineStopped, reason, fixture);
    record.fileName = fileName;
    record.fileIdentifier = fileIdentifier;
    m_writer->write(record);
}

void StationRecorder::recordRestart()
{
    m_writer->write(newRecord(UpdateRecord::Result::LineRestarted, QString(), 0));
}

void StationRecorder::recordRefusal(const QString& moduleKey, const QString& reason, int fixture,
                                    const QString& fileName, const QString& fileIdentifier)
{
    UpdateRecord record = newRecord(UpdateRecord::Result::NotStarted, reason, fixture);
    record.moduleKey = moduleKey;
    record.fileName = fileName;
    record.fileIdentifier = fileIdentifier;
    m_writer->write(record);
}

bool StationRecorder::flush(int waitMs)
{
    return m_writer->flush(waitMs);
}

UpdateRecord StationRecorder::newRecord(UpdateRecord::Result result, const QString& reason, int fixture) const
{
    UpdateRecord record = RecordWriter::newRecord();
    record.startedUtc = QDateTime::currentDateTimeUtc();
    record.durationMs = 0;
    record.setStation(m_station, m_operatorName);
    record.result = result;
    record.failureText = reason;
    record.fixture = fixture > 0 ? QString::number(fixture) : QString();
    return record;
}
