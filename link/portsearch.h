#pragma once

#include <QSerialPortInfo>
#include <QString>
#include <QVector>

class WireCapture;

// Asks the addresses of several ports for their modules at once, each port on a thread of its own, and
// bounds the wait of the addresses after a port's first answer by how long that answer took.
class PortSearch
{
public:
    struct Settings
    {
        QVector<unsigned char> addresses;
        // How long an address may take to answer before any module on its port has answered.
        int probeTimeoutMs = 0;
        int dataRate = 0;
        // Where the search's bytes are captured too; null: nowhere.
        WireCapture* capture = nullptr;
    };
    struct Answer
    {
        unsigned char address = 0;
        QString version;
    };
    struct Port
    {
        QSerialPortInfo info;
        // DUXLConnectionInterface::LinkKind, as LinkKindRules::kindOfPort told it.
        int linkKind = 0;
        // A USB link holds one module: asking stops at its first answer.
        bool oneModule = false;
        // Why the port could not be opened; empty when it was searched.
        QString openError;
        QVector<Answer> answers;
    };

    // A reply on the line takes about as long as the first one did: twice that, the line time of the
    // longest version exchange at `dataRate` and a margin for the scheduler, never more than `probeTimeoutMs`.
    static int followUpTimeoutMs(qint64 firstAnswerMs, int dataRate, int probeTimeoutMs);

    // Searches every port of `ports` side by side and returns when all are done. The ports are closed
    // again: whoever keeps one of them opens it anew.
    static void searchAll(QVector<Port>& ports, const Settings& settings);

private:
    static void searchOne(Port& port, const Settings& settings);
};
