#include "progressprinter.h"

#include "updateeta.h"
#include "updatephase.h"

#include <QLocale>
#include <QTextStream>

namespace {

const QString WritePhase = UpdatePhases::name(UpdatePhase::Write);
constexpr double BytesPerKiB = 1024.0;
constexpr qint64 MsPerSecond = 1000;
constexpr qint64 SecondsPerMinute = 60;
// Carriage return and "erase to the end of the line".
constexpr const char* RewriteLine = "\r\x1b[K";
// The line is rewritten at most this often while bytes go out (a report comes with every flash word).
constexpr qint64 RewriteIntervalMs = 200;
// Without reports (the entry waits seconds for the module to restart) the clock on the line still moves.
constexpr int TickMs = 1000;

}

QString ProgressPrinter::clockText(qint64 ms)
{
    return QStringLiteral("[%1:%2.%3]")
        .arg(ms / (SecondsPerMinute * MsPerSecond))
        .arg((ms / MsPerSecond) % SecondsPerMinute, 2, 10, QLatin1Char('0'))
        .arg(ms % MsPerSecond, 3, 10, QLatin1Char('0'));
}

ProgressPrinter::ProgressPrinter(QTextStream* out, bool terminal, QObject* parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(terminal)
{
    m_tick.setInterval(TickMs);
    connect(&m_tick, &QTimer::timeout, this, &ProgressPrinter::rewriteLine);
}

void ProgressPrinter::setLineWriteMs(qint64 ms)
{
    m_lineWriteMs = ms;
}

void ProgressPrinter::start()
{
    m_state.start();
    if (m_terminal && m_out)
        m_tick.start();
}

void ProgressPrinter::phaseReached(const QString& phase)
{
    m_state.reachPhase(phase);
    if (m_terminal)
        rewriteLine();
    else if (m_out)
        *m_out << clockText(m_state.elapsedMs()) << ' ' << phase << Qt::endl;
}

void ProgressPrinter::progressed(qint64 bytesDone, qint64 bytesTotal)
{
    m_state.progress(bytesDone, bytesTotal);
    if (m_terminal && (bytesDone == bytesTotal || m_state.elapsedMs() - m_rewrittenAtMs >= RewriteIntervalMs))
        rewriteLine();
}

void ProgressPrinter::finish()
{
    m_tick.stop();
    if (m_linePending && m_out)
        *m_out << Qt::endl;
    m_linePending = false;
}

int ProgressPrinter::percentOf(const QString& phaseName, qint64 done, qint64 total)
{
    UpdatePhase phase;
    if (!UpdatePhases::fromName(phaseName, &phase))
        return 0;
    const UpdatePhases::Share share = UpdatePhases::progressShare(phase);
    const qint64 span = share.endPercent - share.startPercent;
    return share.startPercent + int(total > 0 ? span * done / total : 0);
}

QString ProgressPrinter::statusLine() const
{
    return statusText(m_state.phase(), m_state.done(), m_state.total(), m_state.elapsedMs(), m_state.phaseStartMs(),
                      m_lineWriteMs);
}

QString ProgressPrinter::statusText(const QString& phase, qint64 done, qint64 total, qint64 elapsedMs, qint64 phaseStartMs,
                                    qint64 lineWriteMs)
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    QString line = QStringLiteral("%1 %2% %3").arg(phase, -10).arg(percentOf(phase, done, total), 3).arg(clockText(elapsedMs));
    if (total > 0)
        line += QStringLiteral("  %1/%2 bytes").arg(numbers.toString(done), numbers.toString(total));
    const qint64 inPhaseMs = elapsedMs - phaseStartMs;
    if (phase == WritePhase && done > 0 && inPhaseMs > 0)
        line += QStringLiteral("  %1 KiB/s").arg(double(done) / inPhaseMs * MsPerSecond / BytesPerKiB, 0, 'f', 2);
    const qint64 remainingMs = UpdateEta::remainingMs(phase, done, total, inPhaseMs, lineWriteMs);
    if (remainingMs < 0)
        return line;
    const qint64 etaSeconds = remainingMs / MsPerSecond;
    return line + QStringLiteral("  ETA %1:%2").arg(etaSeconds / SecondsPerMinute).arg(etaSeconds % SecondsPerMinute, 2, 10, QLatin1Char('0'));
}

void ProgressPrinter::rewriteLine()
{
    if (m_out)
        *m_out << RewriteLine << statusLine() << Qt::flush;
    m_rewrittenAtMs = m_state.elapsedMs();
    m_linePending = true;
}
