#include "progressevents.h"

#include "progressprinter.h"
#include "updateresult.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {
constexpr const char* ProgressEvent = "progress";
}

ProgressEvents::ProgressEvents(QTextStream* out, const QString& moduleKey, QObject* parent)
    : QObject(parent)
    , m_out(out)
    , m_moduleKey(moduleKey)
{
    m_clock.start();
}

void ProgressEvents::phaseReached(const QString& phase)
{
    m_phase = phase;
    m_done = 0;
    m_total = 0;
    if (phase == ProgressPrinter::writePhase())
        m_writeStartMs = m_clock.elapsed();
    tell();
}

void ProgressEvents::progressed(qint64 bytesDone, qint64 bytesTotal)
{
    m_done = bytesDone;
    m_total = bytesTotal;
    // A report comes with every flash word: a line only when the whole update moved on by a percent.
    if (ProgressPrinter::percentOf(m_phase, m_done, m_total) != m_toldPercent)
        tell();
}

void ProgressEvents::tell()
{
    m_toldPercent = ProgressPrinter::percentOf(m_phase, m_done, m_total);
    const qint64 eta = ProgressPrinter::etaSeconds(m_phase, m_done, m_total, m_clock.elapsed(), m_writeStartMs);
    const QJsonObject event{{QStringLiteral("schema"), UpdateResult::JsonSchema},
                            {QStringLiteral("event"), QLatin1String(ProgressEvent)},
                            {QStringLiteral("module"), m_moduleKey},
                            {QStringLiteral("phase"), m_phase},
                            {QStringLiteral("percent"), m_toldPercent},
                            {QStringLiteral("etaSeconds"), eta < 0 ? QJsonValue() : QJsonValue(double(eta))}};
    *m_out << QJsonDocument(event).toJson(QJsonDocument::Compact) << Qt::endl;
}
