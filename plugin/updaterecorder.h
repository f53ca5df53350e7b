#pragma once

#include "updateoutcome.h"
#include "updaterecord.h"

#include <QObject>

class RecordWriter;

// Turns each update's outcome into a record of it and hands it to the records: who updated which
// module, where, with which file, and how it ended. Beside the outcome, never in the update's way.
class UpdateRecorder : public QObject
{
    Q_OBJECT
public:
    // Records the updates `outcome` reports, to where RecordKeeper::configuredLocation() says.
    UpdateRecorder(UpdateOutcome* outcome, QObject* parent);

    // The record of a finished update, with this station, operator and tool.
    static UpdateRecord recordOf(const UpdateOutcome::Report& report);
    static UpdateRecord::Result resultOf(const UpdateOutcome::Report& report);

signals:
    // A record that could not be kept, or that waits for the server.
    void unrecorded(QString text);

private:
    RecordWriter* m_writer;
};
