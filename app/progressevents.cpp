#include "progressevents.h"

#include "progressprinter.h"
#include "updateresult.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {
constexpr const char* ProgressEvent = "progress";
constexpr qint64 MsPerSecond = 1000;
}

ProgressEvents::ProgressEvents(QTextStream* out, const QString& moduleKey, qint64 lineWriteMs, QObject* parent)
    : QObject(parent)
    , m_out(out)
    , m_moduleKey(moduleKey)
    , m_lineWriteMs(lineWriteMs)
{
    m_state.start();
}

void ProgressEvents::phaseReached(const QString& phase)
{
    m_state.reachPhase(phase);
    tell();
}

void ProgressEvents::progressed(qint64 bytesDone, qint64 bytesTotal)
{
    m_state.progress(bytesDone, bytesTotal);
    // A report comes with every flash word: a line only when the whole update moved on by a percent.
    if (ProgressPrinter::percentOf(m_state.phase(), bytesDone, bytesTotal) != m_toldPercent)
        tell();
}

void ProgressEvents::tell()
{
    m_toldPercent = ProgressPrinter::percentOf(m_state.phase(), m_state.done(), m_state.total());
    const qint64 remainingMs = m_state.remainingMs(m_lineWriteMs);
    const QJsonObject event{{QStringLiteral("schema"), EndedUpdate::JsonSchema},
                            {QStringLiteral("event"), QLatin1String(ProgressEvent)},
                            {QStringLiteral("module"), m_moduleKey},
                            {QStringLiteral("phase"), m_state.phase()},
                            {QStringLiteral("percent"), m_toldPercent},
                            {QStringLiteral("etaSeconds"), remainingMs < 0 ? QJsonValue() : QJsonValue(double(remainingMs / MsPerSecond))}};
    *m_out << QJsonDocument(event).toJson(QJsonDocument::Compact) << Qt::endl;
}
