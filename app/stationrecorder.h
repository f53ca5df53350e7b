#pragma once

#include "updaterecord.h"

#include <QString>
#include <memory>

class RecordWriter;

// Keeps a station's line stops and the acknowledgements that start the line again among the records of
// its updates, so that a shift's records tell why nothing was flashed for a while and who restarted it;
// and each module the station refused to flash, as dux-host records a run it refuses.
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
    // A module in `fixture` that is not flashed, and why: a "not started" record of its own.
    void recordRefusal(const QString& moduleKey, const QString& reason, int fixture, const QString& fileName,
                       const QString& fileIdentifier);
    // Waits up to `waitMs` until the records handed over are kept: for a station about to end.
    bool flush(int waitMs);

private:
    // A record of `result` made now, with the station's names; `fixture` 0: none.
    UpdateRecord newRecord(UpdateRecord::Result result, const QString& reason, int fixture) const;

    QString m_station;
    QString m_operatorName;
    std::shared_ptr<RecordWriter> m_writer;
};
