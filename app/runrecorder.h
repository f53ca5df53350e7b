#pragma once

#include <QString>
#include <memory>
#include <mutex>

class RecordWriter;
struct UpdateResult;

// Records the attempts of a dux-host run that the plug-in never saw, so that every attempt is on record:
// a refusal before a module was touched (the file, no module found) and a module that --watch skips.
// The plug-in records every update it starts itself.
class RunRecorder
{
public:
    // `fileBytes`: the program bytes of the run's file, 0 when it has none.
    explicit RunRecorder(int fileBytes = 0);
    ~RunRecorder();

    void setFileBytes(int fileBytes) { m_fileBytes = fileBytes; }
    // Hands the record of `result` over; written on a thread of its own, kept before the process ends.
    // From any thread: a run that ends at once while its search is under way records from the
    // watchdog's thread, and its GUI thread may get there too. A run records one attempt without a
    // module at most, so the second of the two is dropped.
    void record(const UpdateResult& result);
    // record(), then waits up to `waitMs` until it is kept: the process ends right after.
    void recordAndWait(const UpdateResult& result, int waitMs);

private:
    std::mutex m_mutex;
    bool m_recordedWithoutModule = false;
    int m_fileBytes;
    // Made with the first record: most runs leave all their records to the plug-in.
    std::shared_ptr<RecordWriter> m_writer;
};
