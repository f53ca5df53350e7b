#include "blockingroundtrip.h"

#include "command.h"

#include <QEventLoop>
#include <QProgressBar>

BlockingRoundTrip::BlockingRoundTrip(const QElapsedTimer& clock)
    : m_clock(clock)
{
}

std::vector<qint64> BlockingRoundTrip::measure(int count, QProgressBar* bar)
{
    m_count = count;
    m_arrivals.clear();
    m_arrivals.reserve(size_t(count));
    QObject receiver;
    connect(this, &BlockingRoundTrip::request, &receiver,
            [this](Command*, Command*) { m_arrivals.push_back(m_clock.nsecsElapsed()); },
            Qt::BlockingQueuedConnection);
    if (bar) {
        bar->setRange(0, count);
        bar->setValue(0);
        connect(this, &BlockingRoundTrip::progress, bar, &QProgressBar::setValue, Qt::QueuedConnection);
    }
    QEventLoop loop;
    connect(this, &QThread::finished, &loop, &QEventLoop::quit);
    start();
    loop.exec();
    wait();
    disconnect(this, &BlockingRoundTrip::progress, nullptr, nullptr);
    return m_arrivals;
}

void BlockingRoundTrip::run()
{
    for (int i = 1; i <= m_count; ++i) {
        Command request;
        Command reply;
        emit progress(i);
        emit this->request(&request, &reply);
    }
}
