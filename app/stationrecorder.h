#pragma once

#include <QString>
#include <memory>

class RecordWriter;

// Keeps a station's line stops and the acknowledgements that start the line again among the records of
// its updates, so that a shift's records tell why nothing was flashed for a while and who restarted it.
class StationRecorder
{
public:
    // How long a station that closes waits for these records: well within the grace a process has to end.
    static constexpr int EndWaitMs = 2000;

    // `station` and `operatorName` as the station's updates record them.
    StationRecorder(const QString& station, const QString& operatorName);
    ~StationRecorder();

    void recordStop(const QString& reason, int fixture, const QString& fileName, const QString& fileIdentifier);
    void recordRestart();
    // Waits up to `waitMs` until the records handed over are kept: for a station about to end.
    bool flush(int waitMs);

private:
    void write(bool stopped, const QString& reason, int fixture, const QString& fileName,
               const QString& fileIdentifier);

    QString m_station;
    QString m_operatorName;
    std::unique_ptr<RecordWriter> m_writer;
};
