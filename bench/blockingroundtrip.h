#pragma once

#include <QElapsedTimer>
#include <QThread>
#include <vector>

class Command;
class QProgressBar;

// Qt's own cost of what the update's worker does for every flash word: a worker thread sends blocking
// queued signals with a request and a reply record, one after the other, to a receiver on the thread
// that runs measure(), which does nothing but note the time. With a progress bar, each request is
// preceded by a queued step of the bar, as the worker moves the tool's bar after every word.
class BlockingRoundTrip : public QThread
{
    Q_OBJECT
public:
    // Times are read from `clock`, which the caller shares with its other measurements.
    explicit BlockingRoundTrip(const QElapsedTimer& clock);

    // Sends `count` requests while the calling thread's event loop runs; the time (ns) of each arrival.
    std::vector<qint64> measure(int count, QProgressBar* bar = nullptr);

signals:
    void request(Command* request, Command* reply);
    void progress(int value);

protected:
    void run() override;

private:
    const QElapsedTimer& m_clock;
    int m_count = 0;
    std::vector<qint64> m_arrivals;
};
