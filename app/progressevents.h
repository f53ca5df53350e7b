#pragma once

#include "progressstate.h"

#include <QObject>
#include <QString>

class QTextStream;

// dux-host --json --json-progress: one JSON line on `out` whenever one update reaches a phase or moves
// on by a percent of the whole update, with the time the whole update still takes (docs/json.md).
class ProgressEvents : public QObject
{
    Q_OBJECT
public:
    // `lineWriteMs`: the write's words at the link's line time (ProgressPrinter::setLineWriteMs).
    ProgressEvents(QTextStream* out, const QString& moduleKey, qint64 lineWriteMs, QObject* parent = nullptr);

    void phaseReached(const QString& phase);
    void progressed(qint64 bytesDone, qint64 bytesTotal);

private:
    void tell();

    QTextStream* m_out;
    QString m_moduleKey;
    qint64 m_lineWriteMs;
    ProgressState m_state;
    int m_toldPercent = -1;
};
