#include "runrecorder.h"

#include "recordkeeper.h"
#include "recordwriter.h"
#include "updateresult.h"

RunRecorder::RunRecorder(int fileBytes)
    : m_fileBytes(fileBytes)
{
}

RunRecorder::~RunRecorder() = default;

void RunRecorder::record(const UpdateResult& result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (result.moduleKey.isEmpty()) {
        if (m_recordedWithoutModule)
            return;
        m_recordedWithoutModule = true;
    }
    // A record that cannot be kept the writer says on stderr itself.
    if (!m_writer)
        m_writer = RecordWriter::shared(RecordKeeper::configuredLocation(), RecordKeeper::localFile());
    UpdateRecord record = RecordWriter::newRecord();
    static_cast<EndedUpdate&>(record) = result;
    record.fileName = EndedUpdate::filePath(result.fileName);
    if (!result.fileName.isEmpty() && m_fileBytes > 0)
        record.fileBytes = m_fileBytes;
    // Nothing was sent to the module: skipped by choice, or refused before it was touched.
    const bool skipped = result.result == UpdateResult::Result::Skipped;
    record.result = skipped ? UpdateRecord::Result::Skipped : UpdateRecord::Result::NotStarted;
    record.failureText = skipped ? result.stateText() : result.failureText;
    m_writer->write(record);
}

void RunRecorder::recordAndWait(const UpdateResult& result, int waitMs)
{
    record(result);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writer)
        m_writer->flush(waitMs);
}
