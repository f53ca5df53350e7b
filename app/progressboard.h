#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class ProgressPrinter;
class QTextStream;

// How far several updates at once are: on a terminal one line per module, all rewritten together
// (at most every 200 ms); elsewhere one line per phase, named by its module.
class ProgressBoard : public QObject
{
    Q_OBJECT
public:
    ProgressBoard(QTextStream* out, bool terminal, QObject* parent = nullptr);
    ~ProgressBoard() override;

    // A line for the module of `key`, whose update starts now (its write's words take `lineWriteMs` on the
    // line); returns its row.
    int addModule(const QString& key, qint64 lineWriteMs = 0);
    void phaseReached(int row, const QString& phase);
    void progressed(int row, qint64 bytesDone, qint64 bytesTotal);
    // Draws the lines a last time; what follows starts below them.
    void finish();
    // Takes the drawn lines off a terminal, so that a line printed now is not drawn over.
    void clear();
    // The module's update ended (told on a line of its own): its line goes, the others are drawn again.
    void endModule(int row);

private:
    void redraw(bool now);

    QTextStream* m_out;
    bool m_terminal;
    QStringList m_keys;
    std::vector<std::unique_ptr<ProgressPrinter>> m_rows;
    std::vector<bool> m_ended;
    QElapsedTimer m_sinceRedraw;
    int m_drawnRows = 0;
};
