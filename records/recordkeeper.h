#pragma once

#include "recordstore.h"

#include <QString>

// Keeps each record where the station is told to, and never loses one silently: straight into the
// records database; while a server cannot be reached, in the local SQLite file (the spool), sent on
// oldest first once the server answers again. Used from one thread.
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

    RecordStore m_target;
    RecordStore m_spool;
    bool m_serverDown = false;
    // The last record said to be lost: an update's record is written at each phase and at its end, and
    // said once.
    QString m_lostId;
};
