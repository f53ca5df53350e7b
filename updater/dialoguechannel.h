#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <chrono>

class Command;
class ProgressMessage;
enum class UpdatePhase;
struct WindowedWords;

namespace Protocol {
enum class ModuleState : int;
}

// Everything the bootloader dialogue reaches beyond itself: the module's link, the widget that shows the
// run, the outcome that records it, and the flags the widget sets while it runs. The dialogue has no other
// door, so a scripted channel can play the module, the link and the user for it.
class DialogueChannel
{
public:
    virtual ~DialogueChannel() = default;

    // Fills `reply` (left invalid when nothing usable came back) and returns why the request was not
    // carried out: empty when it was, or when nobody can tell.
    virtual QString request(Command& request, Command& reply) = 0;
    // How many of the write phase's words the link keeps in flight; 1: one at a time through request().
    virtual int requestWindow() = 0;
    // Sends the words in order with up to requestWindow() in flight and tells how far they got.
    virtual void requestWords(WindowedWords& words) = 0;
    // Writes the module's answer to the version question into `version`; leaves it as it was without one.
    virtual void readFirmwareVersion(QString* version, unsigned char moduleAddress) = 0;
    virtual void closeDevice() = 0;
    // Asks for the link reopened for `state` and returns at once.
    virtual void reopenDevice(Protocol::ModuleState state) = 0;
    // Asks for the link reopened for `state` and waits, looking every `pollMs`, until it was or the run is
    // cancelled.
    virtual void awaitReopen(Protocol::ModuleState state, int pollMs) = 0;
    virtual bool isDeviceOpen() = 0;
    // The link's reply time-out, event processing while it waits, and its trace of the words.
    virtual void setMaxTimeoutMS(int ms) = 0;
    virtual void resetMaxTimeoutMS() = 0;
    virtual void setForceProcessEvents(bool force) = 0;
    virtual void setTraceMode(bool trace) = 0;

    // Read afresh for each request: the widget sets both while the run waits.
    virtual bool isCancelRequested() const = 0;
    virtual unsigned char currentModuleAddress() const = 0;
    // The dialogue's pacing, as the bootloaders expect it.
    virtual void pause(std::chrono::microseconds duration) = 0;

    // A line of the update history.
    virtual void log(const QString& text) = 0;
    // A short status for the progress line.
    virtual void showProgress(const ProgressMessage& message) = 0;
    virtual void showModuleVersion(const QString& version) = 0;
    // The progress bar; a maximum of 0 shows it busy.
    virtual void showBarMaximum(int maximum) = 0;
    virtual void showBarValue(int value) = 0;

    virtual void reachPhase(UpdatePhase phase) = 0;
    virtual void progress(qint64 bytesDone, qint64 bytesTotal) = 0;
    // The words in flight when the write ended.
    virtual void noteWindow(int window) = 0;
    // The module already held the file and was restarted unerased.
    virtual void noteSkipped() = 0;
    // The write went on where an earlier one stopped, without an erase.
    virtual void noteResumed() = 0;
    // The flash addresses of the pages whose sums differ from the file's.
    virtual void noteDifferingPages(const QVector<quint32>& pages) = 0;
    virtual void noteReadBack(quint32 base, const QByteArray& bytes) = 0;
};
