#pragma once

#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>

class Command;

// The command channel of one link: opens the device and runs DUXL requests on it.
// The time-out, event-processing, trace and open-state calls may come from a worker thread;
// everything else is called on the thread the handler lives on.
class CommandHandlerInterface : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 1000;
    // The status of a reply that carries out its request.
    static constexpr unsigned char OkStatus = 100;
    // The most command requests a link keeps in flight with its module.
    static constexpr int MaxWindow = 16;

    explicit CommandHandlerInterface(QObject* parent = nullptr);
    ~CommandHandlerInterface() override = default;

    virtual bool isDeviceOpen() const = 0;
    virtual bool openDevice() = 0;
    virtual void closeDevice() = 0;
    virtual int dataRate() const = 0;
    // True when the link accepted the rate.
    virtual bool setDataRate(int rate) = 0;
    // The version text of the module at that address; empty when it does not answer.
    virtual QString getFirmwareVersion(unsigned char moduleAddress) = 0;
    // Runs the request and returns when `reply` is filled (or marked invalid).
    virtual void doDirectRequest(Command* request, Command* reply) = 0;
    virtual void doDirectRequestWithoutReply(Command* request) = 0;
    // How many command requests the link keeps in flight in doWindowedRequests(): 1 (one at a time)
    // unless its module said it takes more, never above windowLimit().
    virtual int requestWindow() { return 1; }
    // Runs `requests` in order, up to requestWindow() of them in flight, and returns how many from the
    // front were carried out (a reply with their command echoed and status OkStatus); it stops sending at
    // the first that was not, whose reason requestFailure() tells. The rest's replies are left invalid.
    virtual int doWindowedRequests(const QVector<Command*>& requests, const QVector<Command*>& replies);
    // What doWindowedRequests() does, without holding the caller's thread where the link can: may return
    // before the requests are over, and then calls `done` with how many were carried out, on the
    // handler's thread. A handler destroyed first drops `done` uncalled. By default: at once.
    virtual void startWindowedRequests(const QVector<Command*>& requests, const QVector<Command*>& replies,
                                       std::function<void(int carriedOut)> done);
    // Ends a window that startWindowedRequests() left running: its `done` is called now with what was
    // carried out, and the replies still due are dropped when they come. Nothing by default, whose windows
    // are over when startWindowedRequests() returns.
    virtual void abandonWindowedRequests() {}
    // The most requests the link may keep in flight; 1 keeps it to one at a time without asking the module.
    void setWindowLimit(int limit) { m_windowLimit = qBound(1, limit, MaxWindow); }
    int windowLimit() const { return m_windowLimit; }

    // Reply time-out for the following requests, and back to the default.
    virtual void setMaxTimeoutMS(int timeoutMs) { m_timeoutMs = timeoutMs; }
    virtual void resetMaxTimeoutMS() { m_timeoutMs = DefaultTimeoutMs; }
    // Keep the caller's event loop running while a request waits for its reply.
    virtual void setForceProcessEvents(bool force) { m_forceProcessEvents = force; }
    virtual void setTraceMode(bool trace) { m_traceMode = trace; }

    int maxTimeoutMS() const { return m_timeoutMs; }
    bool forceProcessEvents() const { return m_forceProcessEvents; }
    bool traceMode() const { return m_traceMode; }

    // Why the latest request got no reply that carried it out, as a sentence for the user ("The module
    // did not answer within 5000 ms."); empty when it got one. Read on the handler's thread.
    QString requestFailure() const { return m_requestFailure; }

    enum class Failure {
        NoReply,      // nothing within the reply time-out
        CorruptReply, // only frames that did not read back whole
        PortGone,     // the device is closed or went away
        LinkBusy,     // another request still waits on the link
    };

protected:
    // Each request starts with no failure noted.
    void beginRequest() { m_requestFailure.clear(); }
    void noteFailure(Failure failure);
    // Notes the status of a reply that refused its request.
    void noteReplyStatus(const Command& reply);

private:
    QString m_requestFailure;
    std::atomic<int> m_timeoutMs{DefaultTimeoutMs};
    std::atomic<bool> m_forceProcessEvents{false};
    std::atomic<bool> m_traceMode{false};
    std::atomic<int> m_windowLimit{MaxWindow};
};
