#include "doctor.h"

#include "installlayout.h"
#include "portholder.h"
#include "recordkeeper.h"
#include "recordstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QRegularExpression>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* RuleFileName = "60-dux-modules.rules";
constexpr const char* RuleTarget = "/etc/udev/rules.d/";
// The group our udev rule gives module ports to.
constexpr const char* PortGroup = "dialout";
constexpr const char* ModemManagerName = "ModemManager";
constexpr const char* ReinstallCommand = "sudo apt-get install --reinstall dux";
constexpr const char* LatencyTimers = "bus/usb-serial/devices";
// What our rule sets: a reply of a few bytes is passed on after 1 ms rather than when the timer runs out.
constexpr int WantedLatencyTimerMs = 1;
constexpr mode_t OwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr mode_t GroupReadWrite = S_IRGRP | S_IWGRP;
constexpr mode_t OthersReadWrite = S_IROTH | S_IWOTH;
constexpr mode_t PermissionBits = 0777;

// The device nodes of module ports, as our rule names them.
const QRegularExpression ModulePortName(QStringLiteral("^tty(USB|ACM)\\d+$"));

QString processList(const QList<qint64>& ids)
{
    QString list;
    for (qint64 id : ids)
        list += QLatin1Char(' ') + QString::number(id);
    return list;
}

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

}

Doctor::User Doctor::User::current()
{
    User user;
    user.uid = ::getuid();
    user.gid = ::getgid();
    const passwd* entry = ::getpwuid(user.uid);
    user.name = entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(user.uid);
    return user;
}

Doctor::Doctor(const Machine& machine, const QString& pluginFolder, const QString& recordsLocation,
               const QStringList& ports)
    : m_machine(machine)
    , m_pluginFolder(pluginFolder)
    , m_recordsLocation(recordsLocation)
    , m_ports(ports)
{
}

QVector<Doctor::Finding> Doctor::examine() const
{
    QVector<Finding> findings;
    const QStringList ports = modulePorts();
    checkSerialAccess(ports, &findings);
    checkUdevRule(&findings);
    checkLatencyTimers(&findings);
    checkHeldPorts(ports, &findings);
    checkModemManager(&findings);
    checkPlugins(&findings);
    checkRecords(&findings);
    return findings;
}

QString Doctor::report(const QVector<Finding>& findings)
{
    if (findings.isEmpty())
        return tr("All is well: this computer is ready for updates.") + QLatin1Char('\n');
    // No English catalogue gives %n its plural, so one finding and several are texts of their own.
    QString text = (findings.size() == 1 ? tr("1 finding:") : tr("%1 findings:").arg(findings.size())) + QLatin1Char('\n');
    for (const Finding& finding : findings)
        text += QStringLiteral("- %1\n  %2 %3\n").arg(finding.problem, tr("Fix:"), finding.fix);
    return text;
}

QStringList Doctor::modulePorts() const
{
    QStringList ports;
    const QDir dev(m_machine.devRoot);
    const QStringList nodes = dev.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& node : nodes) {
        if (ModulePortName.match(node).hasMatch())
            ports.append(dev.filePath(node));
    }
    for (const QString& port : m_ports) {
        if (!ports.contains(port))
            ports.append(port);
    }
    return ports;
}

bool Doctor::isMemberOf(uint gid, QString* groupName) const
{
    *groupName = QString::number(gid);
    QFile file(m_machine.groupFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return m_machine.user.gid == gid;
    // name:password:gid:member,member
    while (!file.atEnd()) {
        const QStringList fields = QString::fromLocal8Bit(file.readLine()).trimmed().split(QLatin1Char(':'));
        if (fields.size() < 4 || fields.at(2).toUInt() != gid)
            continue;
        *groupName = fields.at(0);
        return m_machine.user.gid == gid || fields.at(3).split(QLatin1Char(',')).contains(m_machine.user.name);
    }
    return m_machine.user.gid == gid;
}

void Doctor::checkSerialAccess(const QStringList& ports, QVector<Finding>* findings) const
{
    const User& user = m_machine.user;
    QStringList groupsMissing;
    for (const QString& port : ports) {
        struct stat node {};
        const QByteArray path = QFile::encodeName(port);
        if (::stat(path.constData(), &node) != 0)
            continue;
        // The kernel's own answer counts for the user that runs us: it knows root and the seat's access lists too.
        if (user.uid == ::getuid() && ::access(path.constData(), R_OK | W_OK) == 0)
            continue;
        if ((node.st_uid == user.uid && (node.st_mode & OwnerReadWrite) == OwnerReadWrite)
            || (node.st_mode & OthersReadWrite) == OthersReadWrite)
            continue;
        QString group;
        const bool member = isMemberOf(node.st_gid, &group);
        const bool groupMay = (node.st_mode & GroupReadWrite) == GroupReadWrite;
        if (groupMay && member)
            continue;
        if (!groupMay) {
            findings->append({Check::SerialAccess,
                              tr("%1 may not be opened: its mode %2 lets only its owner read and write it.")
                                  .arg(port, QString::number(node.st_mode & PermissionBits, 8)),
                              QStringLiteral("sudo chgrp %1 %2 && sudo chmod 660 %2").arg(QLatin1String(PortGroup), quoted(port))});
        } else if (!groupsMissing.contains(group)) {
            groupsMissing.append(group);
            findings->append({Check::SerialAccess,
                              tr("%1 may not open %2: the port belongs to the group %3, and %1 is not in it "
                                 "(log out and in again after the fix).")
                                  .arg(user.name, port, group),
                              QStringLiteral("sudo usermod -aG %1 %2").arg(group, user.name)});
        }
    }
}

bool Doctor::ruleInstalled() const
{
    for (const QString& folder : m_machine.udevRuleFolders) {
        if (QFileInfo::exists(QDir(folder).filePath(QLatin1String(RuleFileName))))
            return true;
    }
    return false;
}

void Doctor::checkUdevRule(QVector<Finding>* findings) const
{
    if (ruleInstalled())
        return;
    findings->append({Check::UdevRule,
                      tr("Our udev rule %1 is not installed: module ports are not given to the group %2 and the "
                         "user at the seat, a modem manager may probe them, and USB adapters keep a slow latency timer.")
                          .arg(QLatin1String(RuleFileName), QLatin1String(PortGroup)),
                      QStringLiteral("sudo cp %1 %2 && sudo udevadm control --reload-rules && sudo udevadm trigger")
                          .arg(quoted(InstallLayout::udevRule()), QLatin1String(RuleTarget))});
}

void Doctor::checkLatencyTimers(QVector<Finding>* findings) const
{
    const QDir devices(QDir(m_machine.sysRoot).filePath(QLatin1String(LatencyTimers)));
    const QStringList adapters = devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& adapter : adapters) {
        const QString timerPath = devices.filePath(adapter + QStringLiteral("/latency_timer"));
        QFile timer(timerPath);
        // Drivers without a timer have no such file.
        if (!timer.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const int ms = QString::fromLatin1(timer.readAll()).trimmed().toInt(&ok);
        if (!ok || ms <= WantedLatencyTimerMs)
            continue;
        findings->append({Check::LatencyTimer,
                          tr("%1's latency timer is %2 ms: every reply of a module on it waits that long.")
                              .arg(adapter)
                              .arg(ms),
                          QStringLiteral("echo %1 | sudo tee %2").arg(WantedLatencyTimerMs).arg(timerPath)});
    }
}

void Doctor::checkHeldPorts(const QStringList& ports, QVector<Finding>* findings) const
{
    PortHolder holder(m_machine.procRoot);
    for (const QString& port : ports) {
        if (!holder.find(port))
            continue;
        findings->append({Check::PortHeld,
                          tr("%1 is held by %2: no other program can open it.").arg(port, holder.description()),
                          QStringLiteral("kill") + processList(holder.processIds())});
    }
}

void Doctor::checkModemManager(QVector<Finding>* findings) const
{
    // Our rule tells a modem manager to leave module ports alone.
    if (ruleInstalled())
        return;
    const QDir proc(m_machine.procRoot);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != ModemManagerName)
            continue;
        findings->append({Check::ModemManager,
                          tr("%1 runs (process %2): it probes serial ports, and its bytes reach a module waiting in "
                             "its bootloader.")
                              .arg(QLatin1String(ModemManagerName), entry),
                          QStringLiteral("sudo systemctl disable --now %1").arg(QLatin1String(ModemManagerName))});
        return;
    }
}

void Doctor::checkPlugins(QVector<Finding>* findings) const
{
    const QDir folder(m_pluginFolder);
    if (!folder.exists()) {
        findings->append({Check::Plugins, tr("The plug-in folder %1 does not exist.").arg(m_pluginFolder),
                          QLatin1String(ReinstallCommand)});
        return;
    }
    const QFileInfoList libraries = folder.entryInfoList({QStringLiteral("*.so")}, QDir::Files, QDir::Name);
    if (libraries.isEmpty()) {
        findings->append({Check::Plugins, tr("The plug-in folder %1 holds no plug-in.").arg(m_pluginFolder),
                          QLatin1String(ReinstallCommand)});
    }
    for (const QFileInfo& library : libraries) {
        // Loaded libraries stay: a host that already uses them must keep them.
        QPluginLoader loader(library.absoluteFilePath());
        if (!loader.load()) {
            findings->append({Check::Plugins,
                              tr("The plug-in %1 cannot be loaded: %2").arg(library.fileName(), loader.errorString()),
                              QLatin1String(ReinstallCommand)});
        }
    }
}

void Doctor::checkRecords(QVector<Finding>* findings) const
{
    RecordStore store(m_recordsLocation);
    if (store.open())
        return;
    if (store.isServer()) {
        findings->append({Check::Records,
                          tr("The records server cannot be reached, so records wait in this computer's spool: %1")
                              .arg(store.errorString()),
                          QStringLiteral("export %1=%2").arg(QLatin1String(RecordKeeper::LocationVariable),
                                                              quoted(RecordKeeper::localFile()))});
        return;
    }
    const QString folder = QFileInfo(m_recordsLocation).absolutePath();
    findings->append({Check::Records, tr("The records cannot be kept: %1").arg(store.errorString()),
                      QStringLiteral("mkdir -p %1 && sudo chown \"$USER\" %1").arg(quoted(folder))});
}
