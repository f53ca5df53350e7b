#pragma once

#include "capturerecord.h"
#include "duxlframe.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What the module on one port of a wire capture answered, request by request, played back: a request
// that equals the next one of the capture (all but its sequence number) gets the replies the module
// gave it, renumbered to the request's own sequence number, each with the delay it had after the request.
// The first request that departs ends the replay.
class CaptureReplay
{
public:
    struct Reply
    {
        QByteArray frame;
        // After the request was sent, as the capture timed it.
        qint64 delayUs = 0;
    };

    // The exchanges on `port` of `records`, or on the first port a module answered on when `port` is
    // empty; false (and errorString()) when the capture holds no request there.
    bool load(const QList<CaptureRecord>& records, const QString& port = QString());
    QString port() const { return m_port; }
    QString errorString() const { return m_errorString; }
    int requestCount() const { return m_exchanges.size(); }
    // Requests answered so far; the next one is expected at this position (counted from 0).
    int position() const { return m_position; }
    bool hasDeparted() const { return !m_departure.isEmpty(); }
    // Why the replay ended early: the position, what the capture expected and what came.
    QString departure() const { return m_departure; }
    // The time from the first request to the last reply of the capture.
    qint64 recordedUs() const;

    // The replies to `request`; none, with departure() set, when it is not the request the capture
    // holds next (or the capture has no more), and none for every request after that.
    QList<Reply> answer(const DuxlFrame& request);

    // A request as a line of text: kind, address, command, type, bank and value.
    static QString describe(const DuxlFrame& request);
    // Whether two requests are the same but for their sequence numbers.
    static bool sameRequest(const DuxlFrame& a, const DuxlFrame& b);
    // `reply` again with a sequence number moved on by `shift` (a window frame keeps its 0).
    static QByteArray renumbered(const DuxlFrame& reply, int shift);

private:
    struct Exchange
    {
        DuxlFrame request;
        qint64 atUs = 0;
        QList<DuxlFrame> replies;
        QList<qint64> replyAtUs;
    };
    struct TimedFrame
    {
        DuxlFrame frame;
        qint64 atUs;
    };
    static QList<TimedFrame> framesOf(const QList<CaptureRecord>& records, const QString& port,
                                      CaptureRecord::Direction direction);
    // The exchange a module frame belongs to: the latest request before it with its sequence number,
    // else the latest request before it.
    int exchangeOf(const TimedFrame& reply) const;

    QString m_port;
    QString m_errorString;
    QList<Exchange> m_exchanges;
    int m_position = 0;
    QString m_departure;
};
