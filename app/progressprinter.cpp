#include "progressprinter.h"

#include "updatephase.h"

#include <QLocale>
#include <QTextStream>

namespace {

// Where each phase starts within the whole update, in percent; write and verify move on with their bytes.
struct PhaseShare
{
    UpdatePhase phase;
    int startPercent;
    int endPercent;
};
constexpr PhaseShare PhaseShares[] = {
    {UpdatePhase::Entry, 0, 2},    {UpdatePhase::Detection, 2, 3}, {UpdatePhase::Parameters, 3, 4},
    {UpdatePhase::Erase, 4, 5},    {UpdatePhase::Write, 5, 85},    {UpdatePhase::Verify, 85, 95},
    {UpdatePhase::Store, 95, 96},  {UpdatePhase::Restart, 96, 98}, {UpdatePhase::Reconnect, 98, 99},
};
constexpr double BytesPerKiB = 1024.0;
constexpr qint64 MsPerSecond = 1000;
constexpr qint64 SecondsPerMinute = 60;
// Carriage return and "erase to the end of the line".
constexpr const char* RewriteLine = "\r\x1b[K";
// The line is rewritten at most this often while bytes go out (a report comes with every flash word).
constexpr qint64 RewriteIntervalMs = 200;

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
}

void ProgressPrinter::start()
{
    m_clock.start();
}

void ProgressPrinter::phaseReached(const QString& phase)
{
    m_phase = phase;
    m_done = 0;
    m_total = 0;
    if (phase == UpdatePhases::name(UpdatePhase::Write))
        m_writeStartMs = m_clock.elapsed();
    if (m_terminal)
        rewriteLine();
    else if (m_out)
        *m_out << clockText(m_clock.elapsed()) << ' ' << phase << Qt::endl;
}

void ProgressPrinter::progressed(qint64 bytesDone, qint64 bytesTotal)
{
    const bool complete = bytesDone == bytesTotal;
    m_done = bytesDone;
    m_total = bytesTotal;
    if (m_terminal && (complete || m_clock.elapsed() - m_rewrittenAtMs >= RewriteIntervalMs))
        rewriteLine();
}

void ProgressPrinter::finish()
{
    if (m_linePending && m_out)
        *m_out << Qt::endl;
    m_linePending = false;
}

int ProgressPrinter::percentOfUpdate() const
{
    UpdatePhase phase;
    if (!UpdatePhases::fromName(m_phase, &phase))
        return 0;
    for (const PhaseShare& share : PhaseShares) {
        if (share.phase != phase)
            continue;
        const qint64 span = share.endPercent - share.startPercent;
        return share.startPercent + int(m_total > 0 ? span * m_done / m_total : 0);
    }
    return 0;
}

QString ProgressPrinter::statusLine() const
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    QString line = QStringLiteral("%1 %2% %3").arg(m_phase, -10).arg(percentOfUpdate(), 3).arg(clockText(m_clock.elapsed()));
    if (m_total > 0)
        line += QStringLiteral("  %1/%2 bytes").arg(numbers.toString(m_done), numbers.toString(m_total));
    const qint64 writeMs = m_clock.elapsed() - m_writeStartMs;
    if (m_phase == UpdatePhases::name(UpdatePhase::Write) && m_done > 0 && writeMs > 0) {
        const double bytesPerMs = double(m_done) / writeMs;
        const qint64 etaSeconds = qint64((m_total - m_done) / bytesPerMs) / MsPerSecond;
        line += QStringLiteral("  %1 KiB/s  ETA %2:%3")
                    .arg(bytesPerMs * MsPerSecond / BytesPerKiB, 0, 'f', 2)
                    .arg(etaSeconds / SecondsPerMinute)
                    .arg(etaSeconds % SecondsPerMinute, 2, 10, QLatin1Char('0'));
    }
    return line;
}

void ProgressPrinter::rewriteLine()
{
    if (m_out)
        *m_out << RewriteLine << statusLine() << Qt::flush;
    m_rewrittenAtMs = m_clock.elapsed();
    m_linePending = true;
}
