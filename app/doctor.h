#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

// Looks at this computer for what keeps an update from starting or slows it down: serial ports this
// user may not open, our udev rule missing, slow USB-serial latency timers, ports another program
// holds, a modem manager that probes ports, plug-ins that do not load, records that cannot be kept.
// Each finding says what is wrong and the one command that fixes it. Every system path it reads can be
// pointed elsewhere, so that a made-up machine can be examined.
class Doctor
{
    Q_GADGET
    Q_DECLARE_TR_FUNCTIONS(Doctor)
public:
    enum class Check { SerialAccess, UdevRule, LatencyTimer, PortHeld, ModemManager, Plugins, Records };
    Q_ENUM(Check)

    struct Finding
    {
        Check check;
        QString problem;
        QString fix;
    };

    struct User
    {
        QString name;
        uint uid = 0;
        uint gid = 0;
        static User current();
    };

    // The places of a machine; the defaults are this computer's.
    struct Machine
    {
        QString sysRoot = QStringLiteral("/sys");
        QString devRoot = QStringLiteral("/dev");
        QString procRoot = QStringLiteral("/proc");
        QString groupFile = QStringLiteral("/etc/group");
        QStringList udevRuleFolders = {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/lib/udev/rules.d"),
                                       QStringLiteral("/usr/lib/udev/rules.d"),
                                       QStringLiteral("/usr/local/lib/udev/rules.d")};
        User user = User::current();
    };

    // `ports`: device paths named on the command line, looked at besides the module ports of devRoot.
    Doctor(const Machine& machine, const QString& pluginFolder, const QString& recordsLocation,
           const QStringList& ports = QStringList());

    QVector<Finding> examine() const;
    // The findings as the user reads them: each problem with its fix, or that all is well.
    static QString report(const QVector<Finding>& findings);

private:
    QStringList modulePorts() const;
    void checkSerialAccess(const QStringList& ports, QVector<Finding>* findings) const;
    void checkUdevRule(QVector<Finding>* findings) const;
    void checkLatencyTimers(QVector<Finding>* findings) const;
    void checkHeldPorts(const QStringList& ports, QVector<Finding>* findings) const;
    void checkModemManager(QVector<Finding>* findings) const;
    void checkPlugins(QVector<Finding>* findings) const;
    void checkRecords(QVector<Finding>* findings) const;
    bool isMemberOf(uint gid, QString* groupName) const;
    bool ruleInstalled() const;

    Machine m_machine;
    QString m_pluginFolder;
    QString m_recordsLocation;
    QStringList m_ports;
};
