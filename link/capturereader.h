#pragma once

#include "capturerecord.h"

#include <QList>
#include <QString>

// Reads a wire capture written by WireCapture (docs/capture.md) back into its records.
class CaptureReader
{
public:
    // The records of the file at `path`, in their order; false (and errorString()) when it is no
    // capture of ours: unreadable, another link type, or a packet without our pseudo-header.
    bool read(const QString& path);
    const QList<CaptureRecord>& records() const { return m_records; }
    QString errorString() const { return m_errorString; }

private:
    QList<CaptureRecord> m_records;
    QString m_errorString;
};
