#pragma once

#include <QString>
#include <memory>

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
    void record(const UpdateResult& result);

private:
    int m_fileBytes;
    // Made with the first record: most runs leave all their records to the plug-in.
    std::unique_ptr<RecordWriter> m_writer;
};
