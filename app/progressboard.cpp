#include "progressboard.h"

#include "progressprinter.h"

#include <QTextStream>

namespace {
constexpr qint64 RedrawIntervalMs = 200;
// Cursor to the start of the line above, and "erase to the end of the line".
constexpr const char* LineUp = "\x1b[F";
constexpr const char* EraseLine = "\x1b[K";
}

ProgressBoard::ProgressBoard(QTextStream* out, bool terminal, QObject* parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(terminal)
{
}

ProgressBoard::~ProgressBoard() = default;

int ProgressBoard::addModule(const QString& key, qint64 lineWriteMs)
{
    m_keys.append(key);
    m_rows.push_back(std::make_unique<ProgressPrinter>(nullptr, true));
    m_rows.back()->setLineWriteMs(lineWriteMs);
    m_ended.push_back(false);
    m_rows.back()->start();
    redraw(true);
    return int(m_rows.size()) - 1;
}

void ProgressBoard::phaseReached(int row, const QString& phase)
{
    ProgressPrinter* printer = m_rows.at(size_t(row)).get();
    printer->phaseReached(phase);
    if (m_terminal)
        redraw(true);
    else
        *m_out << m_keys.at(row) << ' ' << printer->statusLine() << Qt::endl;
}

void ProgressBoard::progressed(int row, qint64 bytesDone, qint64 bytesTotal)
{
    m_rows.at(size_t(row))->progressed(bytesDone, bytesTotal);
    if (m_terminal)
        redraw(bytesDone == bytesTotal);
}

void ProgressBoard::finish()
{
    if (m_terminal)
        redraw(true);
}

void ProgressBoard::clear()
{
    for (; m_drawnRows > 0; --m_drawnRows)
        *m_out << LineUp << EraseLine;
    *m_out << Qt::flush;
}

void ProgressBoard::endModule(int row)
{
    m_ended.at(size_t(row)) = true;
    clear();
    redraw(true);
}

void ProgressBoard::redraw(bool now)
{
    if (!m_terminal || (!now && m_sinceRedraw.isValid() && m_sinceRedraw.elapsed() < RedrawIntervalMs))
        return;
    int width = 0;
    for (const QString& key : qAsConst(m_keys))
        width = qMax(width, key.size());
    for (int i = 0; i < m_drawnRows; ++i)
        *m_out << LineUp;
    m_drawnRows = 0;
    for (size_t row = 0; row < m_rows.size(); ++row) {
        if (m_ended[row])
            continue;
        *m_out << EraseLine << m_keys.at(int(row)).leftJustified(width) << "  " << m_rows[row]->statusLine() << '\n';
        ++m_drawnRows;
    }
    *m_out << Qt::flush;
    m_sinceRedraw.start();
}
