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
    const qint64 eta = ProgressPrinter::etaSeconds(m_state.phase(), m_state.done(), m_state.total(), m_state.elapsedMs(),
                                                   m_state.writeStartMs());
    const QJsonObject event{{QStringLiteral("schema"), UpdateResult::JsonSchema},
                            {QStringLiteral("event"), QLatin1String(ProgressEvent)},
                            {QStringLiteral("module"), m_moduleKey},
                            {QStringLiteral("phase"), m_state.phase()},
                            {QStringLiteral("percent"), m_toldPercent},
                            {QStringLiteral("etaSeconds"), eta < 0 ? QJsonValue() : QJsonValue(double(eta))}};
    *m_out << QJsonDocument(event).toJson(QJsonDocument::Compact) << Qt::endl;
}
