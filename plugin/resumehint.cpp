#include "resumehint.h"

#include "recordkeeper.h"
#include "recordstore.h"
#include "recordwriter.h"
#include "updatephase.h"
#include "updaterecord.h"

bool ResumeHint::fromRecords(const QString& moduleKey, const QString& fileName)
{
    RecordStore store(RecordKeeper::configuredLocation());
    if (!store.open())
        return false;
    RecordStore::Filter newest;
    newest.module = moduleKey;
    newest.limit = 1;
    const QVector<UpdateRecord> records = store.select(newest);
    return !records.isEmpty() && suggests(records.first(), RecordWriter::fileSha256(fileName));
}

bool ResumeHint::suggests(const UpdateRecord& last, const QString& fileSha256)
{
    const bool cutShort = last.result == UpdateRecord::Result::Interrupted || last.result == UpdateRecord::Result::Failed;
    UpdatePhase reached = UpdatePhase::Entry;
    // Before the write the erase may not have ended: the flash may hold anything.
    const bool afterErase = UpdatePhases::fromName(last.phase, &reached) && reached >= UpdatePhase::Write;
    return cutShort && afterErase && !fileSha256.isEmpty() && last.fileSha256 == fileSha256;
}
