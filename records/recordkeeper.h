#pragma once

#include "recordstore.h"

#include <QString>

// Keeps each record where the station is told to, and never loses one silently: straight into the
// records database; while a server cannot be reached, in the local SQLite file (the spool), sent on
// oldest first once the server answers again; while another program holds a SQLite records file
// locked, in the spool beside it (spoolBeside), written into the file once it is free. Used from one thread.
class RecordKeeper
{
public:
    static constexpr const char* LocationVariable = "DUX_RECORDS";
    static constexpr const char* LocationSetting = "records/location";

    // Where this station's records go: `chosen` (--records) when given, else DUX_RECORDS, else the
    // setting, else the local file.
    static QString configuredLocation(const QString& chosen = QString());
    // The SQLite file beside the settings: the bench's records, and the spool of a line's station.
    static QString localFile();
    // The spool of a SQLite records file: the file's name with ".spool".
    static QString spoolBeside(const QString& location);

    RecordKeeper(const QString& location, const QString& spoolFile);

    struct Kept
    {
        bool kept = false;
        // What to tell the user, empty when nothing: a record lost, or the first one spooled in an outage.
        QString message;
    };
    // `final`: the update's last record. A record written while it ran (at a phase) that cannot be kept
    // is not said: its final one is, once, with the result the update ended with.
    Kept keep(const UpdateRecord& record, bool final = true);
    // Sends the spooled records to the server, oldest first; false when the server failed on one.
    bool drain();

private:
    Kept lost(const UpdateRecord& record, const QString& problem, bool final);
    // Spools `record` after `problem`; said at the first of an outage.
    Kept spooled(const UpdateRecord& record, const QString& problem, bool final);
    // Sends what waits in the spool first; a file's spool only once there is one.
    bool drainFirst();

    RecordStore m_target;
    RecordStore m_spool;
    // The server does not answer, or the file is locked: records go to the spool.
    bool m_serverDown = false;
    // The last record said to be lost: an update's record is written at each phase and at its end, and
    // said once.
    QString m_lostId;
};
