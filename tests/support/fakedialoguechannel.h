#pragma once

#include "command.h"
#include "dialoguechannel.h"

#include <QStringList>
#include <QVector>

class SimulatedModule;

// Plays the link, the widget and the user for a BootloaderDialogue on the caller's thread, without a
// worker or a port: each request goes straight to a SimulatedModule unless a scripted answer stands for
// it, pauses take no time, and every reopen succeeds at once. Writes down what the module was asked,
// what the run noted and what it said.
class FakeDialogueChannel : public DialogueChannel
{
public:
    enum class Answer {
        Silent, // no reply: "silent" is why
        Status, // the module's reply with the status `value`
        Echo,   // the module's reply echoing command `value`
        Cancel, // the user cancels as the request arrives; the module answers it
    };
    // The `count` requests of `command` (and `type`, -1: any) from the `nth` on (counted from 1) get
    // `answer`; the module sees them all the same.
    struct Scripted
    {
        int command = 0;
        int type = -1;
        int nth = 1;
        int count = 1;
        Answer answer = Answer::Silent;
        int value = 0;
    };

    explicit FakeDialogueChannel(SimulatedModule& module);

    QVector<Scripted> script;
    // The words the link keeps in flight.
    int window = 1;

    // The requests in order ("cmd/type[/bank][=0xvalue]"), a run of words to one bank as one entry
    // ("201/type/bank*n" from its first word, "[...]" when handed over at once), and the run's notes
    // ("window:n", "skipped", "resumed", "differing:0x..", "read:0x..+n").
    QStringList trace() const { return m_trace; }
    // "P:" progress, "L:" history, in order.
    QStringList said;

    QString request(Command& request, Command& reply) override;
    int requestWindow() override { return window; }
    void requestWords(WindowedWords& words) override;
    void readFirmwareVersion(QString* version, unsigned char moduleAddress) override;
    void closeDevice() override {}
    void reopenDevice(Protocol::ModuleState) override {}
    void awaitReopen(Protocol::ModuleState, int) override {}
    bool isDeviceOpen() override { return true; }
    void setMaxTimeoutMS(int) override {}
    void resetMaxTimeoutMS() override {}
    void setForceProcessEvents(bool) override {}
    void setTraceMode(bool) override {}
    bool isCancelRequested() const override { return m_cancelled; }
    unsigned char currentModuleAddress() const override { return 1; }
    void pause(std::chrono::microseconds) override {}
    void log(const QString& text) override { said << QStringLiteral("L:") + text; }
    void showProgress(const ProgressMessage& message) override;
    void showModuleVersion(const QString&) override {}
    void showBarMaximum(int) override {}
    void showBarValue(int) override {}
    void reachPhase(UpdatePhase) override {}
    void progress(qint64, qint64) override {}
    void noteWindow(int window) override;
    void noteSkipped() override { entry(QStringLiteral("skipped")); }
    void noteResumed() override { entry(QStringLiteral("resumed")); }
    void noteDifferingPages(const QVector<quint32>& pages) override;
    void noteReadBack(quint32 base, const QByteArray& bytes) override;

private:
    // Answers one request as the script or the module says; why it was not carried out, empty when it was.
    QString answer(const Command& request, Command& reply);
    // The first scripted answer for the request, null for the module's own; takes a scripted cancel.
    const Scripted* scriptedFor(const Command& request);
    void note(const Command& request);
    // A note of the run's, which ends any run of words.
    void entry(const QString& text);

    SimulatedModule& m_module;
    QStringList m_trace;
    QVector<int> m_seen;
    bool m_cancelled = false;
    bool m_storing = false;
    // The run of words the last entry stands for: its first word and length (0: no run).
    Command m_runHead;
    int m_runBank = 0;
    int m_runLength = 0;
};
